#!/usr/bin/env bash
# The main job on a fresh copy of the demo prefix: installs what is missing, builds the
# command-line program, writes a new demo prefix into a temporary folder and scans it. Your
# own Wine prefixes and Quillary's own settings are never touched: the run keeps its data and
# settings in the same temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset asan >/dev/null
cmake --build --preset asan --target quillary-cli quillary-demo-prefix

build=build/asan
work=$(mktemp -d "${TMPDIR:-/tmp}/quillary-demo.XXXXXX")
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
"$build/examples/quillary-demo-prefix" "$work/prefix"
echo "demo.sh: a fresh demo prefix is in $work/prefix"

status=0
"$build/apps/quillary-cli/quillary-cli" scan --prefix "$work/prefix" --categories all || status=$?
echo "demo.sh: scan finished with exit code $status; results are kept in $XDG_DATA_HOME/quillary"
exit "$status"
