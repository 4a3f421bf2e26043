#!/usr/bin/env bash
# Builds the desktop program (release build) when needed and starts it with the arguments
# given, on the display of the session:
#   bash scripts/desktop.sh --demo            # the demo prefix, kept between starts
#   bash scripts/desktop.sh --prefix ~/.wine  # a prefix of your own
#   bash scripts/desktop.sh                   # $WINEPREFIX, the prefix chosen last, ~/.wine
# The first run installs what is missing (as root) and builds; later runs start at once.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
if [[ ! -x $build/apps/quillary/quillary ]]; then
    bash scripts/bootstrap.sh
fi
if [[ ! -f $build/build.ninja ]]; then
    cmake --preset release >/dev/null
fi
cmake --build "$build" --target quillary >/dev/null
exec "$build/apps/quillary/quillary" "$@"
