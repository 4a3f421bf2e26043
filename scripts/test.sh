#!/usr/bin/env bash
# The whole test run: installs what is missing, builds and runs the test suite with the
# sanitizers on, then cross-builds the core for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --workflow --preset asan
cmake --workflow --preset mingw
echo "test.sh: all tests passed and the Windows core builds"
