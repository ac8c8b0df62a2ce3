#!/usr/bin/env bash
# Installs what building and testing driver_quillo needs on Debian 12 (bookworm): the native
# tool chain, GoogleTest and Google Benchmark, the MinGW-w64 cross compiler, Wine with an X
# server for its Direct3D, and clang-format. Runs apt only for packages that are missing, so a
# second run takes a moment. Needs root (or sudo).
set -euo pipefail

PACKAGES=(
    # native build
    build-essential g++ cmake ninja-build git
    # tests and benchmarks (googletest also ships the sources the MinGW build compiles)
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # Windows cross build
    g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    # running and testing the Windows build: Wine, an X server for its Direct3D 11 (Mesa's
    # llvmpipe through OpenGL), xdpyinfo to see that the display answers
    wine wine64 libwine xvfb xauth x11-utils libgl1-mesa-dri libglx-mesa0 libosmesa6
    # the scripts themselves: flock and setsid (util-linux), timeout (coreutils)
    util-linux coreutils procps
    # format check
    clang-format
    # mutation check: its driver (Python 3.11 reads the TOML fault list) and the compiler cache
    # that keeps its rebuilds short
    python3 ccache
)

# One dpkg-query for all of them (packages dpkg has never heard of are left out of its answer).
installed=" $(dpkg-query -W -f='${Package}:${db:Status-Status} ' "${PACKAGES[@]}" 2>/dev/null |
    tr ' ' '\n' | sed -n 's/:installed$//p' | tr '\n' ' ') "
missing=()
for package in "${PACKAGES[@]}"; do
    if [[ "$installed" != *" $package "* ]]; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: everything is installed"
    exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || {
        echo "install-deps: missing packages (${missing[*]}) and not root; run as root" >&2
        exit 1
    }
    SUDO=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
# With the recommended packages: Wine's Direct3D needs the Mesa drivers it only recommends.
"${SUDO[@]}" apt-get install -y -q "${missing[@]}"
