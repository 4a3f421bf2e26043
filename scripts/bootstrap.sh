#!/usr/bin/env bash
# Installs every Debian package Quillary needs to build, test and cross-build. Idempotent:
# packages already present are left alone and nothing is downloaded for them.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config clang-format
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # locales that the language table maps to
    locales
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
