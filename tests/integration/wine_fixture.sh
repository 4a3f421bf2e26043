#!/usr/bin/env bash
# The Wine prefix that the integration tests share.
#   wine_fixture.sh setup FOLDER    makes FOLDER/fresh with `wineboot -i` (once per test run;
#                                   the tests copy it and never change it) and empties
#                                   FOLDER/copies
#   wine_fixture.sh cleanup FOLDER  stops any wineserver still running for a test's copy
set -euo pipefail

action=${1:?usage: wine_fixture.sh setup|cleanup FOLDER}
folder=${2:?usage: wine_fixture.sh setup|cleanup FOLDER}
export WINEDEBUG=-all LC_ALL=C.UTF-8 DISPLAY=

case "$action" in
setup)
    for program in wine wineboot wineserver; do
        if ! command -v "$program" >/dev/null; then
            echo "wine_fixture: $program is not installed (scripts/bootstrap.sh installs wine)" >&2
            exit 1
        fi
    done
    # A server left from an earlier run would keep the old prefix's registry in memory.
    if [[ -d $folder/fresh ]]; then
        WINEPREFIX=$folder/fresh wineserver -k 2>/dev/null || true
        WINEPREFIX=$folder/fresh wineserver -w 2>/dev/null || true
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
            WINEPREFIX=$copy wineserver -k 2>/dev/null || true
            WINEPREFIX=$copy wineserver -w 2>/dev/null || true
        fi
    done
    ;;
*)
    echo "wine_fixture: unknown action $action" >&2
    exit 1
    ;;
esac
