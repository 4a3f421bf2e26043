#!/usr/bin/env bash
# The Wine prefix that the integration tests share.
#   wine_fixture.sh setup FOLDER    makes FOLDER/fresh with `wineboot -i` (once per test run;
#                                   the tests copy it and never change it) and empties
#                                   FOLDER/copies
#   wine_fixture.sh cleanup FOLDER  stops any wineserver still running for a test's copy and
#                                   removes the servers' folders
set -euo pipefail

action=${1:?usage: wine_fixture.sh setup|cleanup FOLDER}
folder=${2:?usage: wine_fixture.sh setup|cleanup FOLDER}
export WINEDEBUG=-all LC_ALL=C.UTF-8 DISPLAY=

# Stops the prefix's wineserver, if one runs, and removes the folder that Debian's Wine made
# for it under $TMPDIR (named in the prefix's file "wineserver"), which outlives the server.
stop_server() {
    local prefix=$1 name
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    if [[ -f $prefix/wineserver ]]; then
        name=$(<"$prefix/wineserver")
        if [[ $name =~ ^wine-[A-Za-z0-9]+$ ]]; then
            rm -rf "${TMPDIR:-/tmp}/$name"
        fi
    fi
}

case "$action" in
setup)
    for program in wine wineboot wineserver; do
        if ! command -v "$program" >/dev/null; then
            echo "wine_fixture: $program is not installed (scripts/bootstrap.sh installs wine)" >&2
            exit 1
        fi
    done
    # A server left from an earlier run would keep the old prefix's registry in memory.
    if [[ -f $folder/fresh/system.reg ]]; then
        stop_server "$folder/fresh"
    fi
    bash "$0" cleanup "$folder"
    rm -rf "$folder/fresh" "$folder/copies"
    mkdir -p "$folder/copies"
    WINEPREFIX=$folder/fresh wineboot -i
    # Wine writes the registry files when its server ends.
    WINEPREFIX=$folder/fresh wineserver -w
    for file in system.reg user.reg userdef.reg .update-timestamp; do
        if [[ ! -s $folder/fresh/$file ]]; then
            echo "wine_fixture: wineboot -i made no $file in $folder/fresh" >&2
            exit 1
        fi
    done
    ;;
cleanup)
    for copy in "$folder"/copies/*/; do
        if [[ -f $copy/system.reg ]]; then
            stop_server "${copy%/}"
        fi
    done
    ;;
*)
    echo "wine_fixture: unknown action $action" >&2
    exit 1
    ;;
esac
