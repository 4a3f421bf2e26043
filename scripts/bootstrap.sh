#!/usr/bin/env bash
# Installs every Debian package Quillary needs to build, test and cross-build. Idempotent:
# packages already present are left alone and nothing is downloaded for them.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config clang-format clang-tidy
    # shortcut files: the tests read the demo prefix's shortcuts back with it
    liblnk-dev libbfio-dev  # liblnk.h includes libbfio.h, which liblnk-dev does not bring
    # the ZIP archives of the partial backups (zlib's minizip)
    libminizip-dev
    # the scan report (libxml2's text writer) and opening or mailing it on the desktop
    libxml2-dev xdg-utils
    # the desktop program (Qt 6 Widgets, its SVG icons, its Qt Test tests) and its screenshots,
    # taken on a virtual X server; the icon theme supplies the standard icons
    qt6-base-dev qt6-svg-dev xvfb xauth adwaita-icon-theme
    # the command-line program: its arguments and its JSON output
    libcli11-dev nlohmann-json3-dev
    # scheduled scans: the tests check the timers with systemd-analyze and the log-on entry
    # with desktop-file-validate
    systemd desktop-file-utils
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # locales that the language table maps to
    locales
    # the integration tests against a real Wine prefix (64-bit Wine only: the tests need no
    # 32-bit Windows programs, so no i386 multiarch)
    wine wine64
    # Wine's own fonts: a prefix registers them by file name, and the fonts scan finds them
    # where Wine loads them from
    fonts-wine
    # the installers that the integration tests build and install under Wine: an NSIS
    # installer and a Windows Installer package
    nsis wixl
    # Windows cross build of the core
    g++-mingw-w64-x86-64-posix
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "bootstrap: missing packages: ${missing[*]}" >&2
        echo "bootstrap: run this script as root to install them" >&2
        exit 1
    fi
    echo "bootstrap: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locales the language table maps to. `locale -a` spells them in lower case with "utf8".
locales=(en_US.UTF-8 zh_CN.UTF-8 da_DK.UTF-8 nl_NL.UTF-8 fr_FR.UTF-8 de_DE.UTF-8 he_IL.UTF-8
         it_IT.UTF-8 ja_JP.UTF-8 nb_NO.UTF-8 pt_PT.UTF-8 ru_RU.UTF-8 es_ES.UTF-8 sv_SE.UTF-8)
available=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/\.utf-8$/.utf8/')

missing_locales=()
for name in "${locales[@]}"; do
    spelled=$(tr '[:upper:]' '[:lower:]' <<<"$name" | sed 's/\.utf-8$/.utf8/')
    if ! grep -qxF "$spelled" <<<"$available"; then
        missing_locales+=("$name")
    fi
done

if ((${#missing_locales[@]} > 0)); then
    if [[ $(id -u) -ne 0 ]]; then
        # Not fatal: the program falls back to C.UTF-8 and says so in its log.
        echo "bootstrap: missing locales: ${missing_locales[*]}" >&2
        echo "bootstrap: run this script as root to generate them" >&2
    else
        echo "bootstrap: generating locales ${missing_locales[*]}"
        for name in "${missing_locales[@]}"; do
            pattern="${name//./\\.} UTF-8"
            if grep -qE "^#[[:space:]]*${pattern}\$" /etc/locale.gen; then
                sed -i -E "s/^#[[:space:]]*(${pattern})\$/\1/" /etc/locale.gen
            elif ! grep -qE "^${pattern}\$" /etc/locale.gen; then
                echo "$name UTF-8" >>/etc/locale.gen
            fi
        done
        locale-gen
    fi
fi
