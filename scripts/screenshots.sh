#!/usr/bin/env bash
# Takes the documentation's screenshots: starts the desktop program on a virtual X server, on a
# fresh demo prefix in a folder of its own, lets it visit every page (it scans and repairs the
# demo prefix as a user would) and writes a PNG of each page into the folder given
# (default: docs/screenshots). Builds the program first when needed.
#   bash scripts/screenshots.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."

output=$(realpath -m "${1:-docs/screenshots}")
build=build/release
bash scripts/bootstrap.sh
if [[ ! -f $build/build.ninja ]]; then
    cmake --preset release >/dev/null
fi
cmake --build "$build" --target quillary

# A home of its own: the demo prefix, the settings and the instance claim live there, so
# nothing of the user's is read or changed.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/config" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
mkdir -p "$output"

XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime \
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=${QT_SCALE_FACTOR:-1} \
    timeout 300 xvfb-run -a -s "-screen 0 1400x1000x24" \
    "$build/apps/quillary/quillary" --demo --screenshots "$output"
echo "screenshots.sh: pictures written to $output:"
ls "$output"
