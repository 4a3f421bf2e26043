#!/usr/bin/env bash
# The main job on a fresh copy of the demo prefix: installs what is missing, builds the
# command-line program, writes a new demo prefix into a temporary folder, scans it, repairs
# every problem with a partial backup, lists the backup, undoes it and shows that the registry
# is back as it was. Your own Wine prefixes and Quillary's own settings are never touched: the
# run keeps its data and settings in the same temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset asan >/dev/null
cmake --build --preset asan --target quillary-cli quillary-demo-prefix

build=build/asan
work=$(mktemp -d "${TMPDIR:-/tmp}/quillary-demo.XXXXXX")
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
cli=("$build/apps/quillary-cli/quillary-cli")
prefix=$work/prefix
"$build/examples/quillary-demo-prefix" "$prefix"

step() { printf '\n== %s\n' "$*"; }
export_registry() {
    for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
        "${cli[@]}" export "$root" "$work/$1-$root.reg" --prefix "$prefix"
    done
}

export_registry before
step "quillary-cli scan --prefix $prefix --categories all"
"${cli[@]}" scan --prefix "$prefix" --categories all
step "quillary-cli repair --prefix $prefix"
"${cli[@]}" repair --prefix "$prefix"
step "quillary-cli scan (after the repair)"
"${cli[@]}" scan --prefix "$prefix" --categories all 2>/dev/null | tail -n 1
step "quillary-cli backups --prefix $prefix"
"${cli[@]}" backups --prefix "$prefix"
number=$("${cli[@]}" backups --prefix "$prefix" | tail -n 1 | cut -d' ' -f1)
step "quillary-cli undo $number --prefix $prefix"
"${cli[@]}" undo "$number" --prefix "$prefix"
export_registry after
step "the registry after the undo"
for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    if cmp -s "$work/before-$root.reg" "$work/after-$root.reg"; then
        echo "$root: the same as before the repair"
    else
        echo "$root: differs from before the repair" >&2
        exit 1
    fi
done
echo "demo.sh: done; the prefix, the backups and the log are in $work"
