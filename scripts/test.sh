#!/usr/bin/env bash
# The whole test run, cheap checks first: installs what is missing, checks the formatting and
# runs clang-tidy, builds and runs the test suite with the address and undefined-behaviour
# sanitizers, runs the tests of the threaded parts with the thread sanitizer, cross-builds the
# core for Windows and builds the benchmarks (without running them) so that they keep building.
set -euo pipefail
cd "$(dirname "$0")/.."

# Prints the name of every source that clang-format would change and fails if there is one.
check_format() {
    local report
    if report=$(find src apps tests bench examples -type f \( -name '*.h' -o -name '*.cpp' \) \
                    -print0 | sort -z | xargs -0 clang-format --dry-run --Werror 2>&1); then
        return 0
    fi
    local files
    files=$(grep -E '^[^ ]+:[0-9]+:[0-9]+: (error|warning): ' <<<"$report" | cut -d: -f1 |
            sort -u)
    if [[ -z $files ]]; then
        echo "test.sh: clang-format failed: ${report}" >&2
        return 1
    fi
    echo "test.sh: these files need clang-format -i (or cmake --build <folder> --target format):" >&2
    sed 's/^/  /' <<<"$files" >&2
    return 1
}

# Runs one step and says how long it took, so a slow step shows in the log.
step() {
    local name=$1
    shift
    local started=$SECONDS
    echo "test.sh: ${name}"
    "$@"
    echo "test.sh: ${name} took $((SECONDS - started)) s"
}

bash scripts/bootstrap.sh
step "formatting" check_format
if ! command -v run-clang-tidy >/dev/null; then
    echo "test.sh: run-clang-tidy is missing: install the clang-tidy package" >&2
    exit 1
fi
step "configure (asan)" cmake --preset asan
step "clang-tidy" cmake --build --preset tidy
step "tests (asan)" cmake --workflow --preset asan
step "threaded tests (tsan)" cmake --workflow --preset tsan
step "Windows core (mingw)" cmake --workflow --preset mingw
step "benchmarks build (release)" cmake --workflow --preset benchmarks
echo "test.sh: all checks and tests passed, the Windows core and the benchmarks build"
