#!/usr/bin/env bash
# Installs what building and testing driver_quillo needs on Debian 12 (bookworm): the native
# tool chain, GoogleTest and Google Benchmark, the MinGW-w64 cross compiler, Wine with an X
# server for its Direct3D, the header-only libraries, clang-format, and clang with libFuzzer.
# Runs apt only for packages that are missing, so a second run takes a moment. Needs root (or
# sudo).
#
# Exit code 0 when every package is installed afterwards; otherwise the reason is printed.
set -euo pipefail

PACKAGES=(
    # native build
    build-essential g++ cmake ninja-build git
    # tests and benchmarks (googletest also ships the sources the MinGW build compiles)
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # header-only libraries, used by the native and the MinGW build alike: JSON, PNG
    # reading and writing, command-line options
    nlohmann-json3-dev libstb-dev libcli11-dev
    # a second compiler with its sanitizer and fuzzing runtimes (thread-sanitizer and
    # libFuzzer builds)
    clang clang-14 libclang-rt-14-dev
    # Windows cross build
    g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    # running and testing the Windows build: Wine, an X server for its Direct3D 11 (Mesa's
    # llvmpipe through OpenGL), xdpyinfo to see that the display answers
    wine wine64 libwine xvfb xauth x11-utils libgl1-mesa-dri libglx-mesa0 libosmesa6
    # the scripts themselves: flock and setsid (util-linux), timeout (coreutils)
    util-linux coreutils procps
    # plotting benchmark figures
    gnuplot-nox
    # format check
    clang-format
    # mutation check: its driver (Python 3.11 reads the TOML fault list) and the compiler cache
    # that keeps its rebuilds short
    python3 ccache
)

fail() {
    echo "install-deps: FAILED: $*" >&2
    exit 1
}

# One dpkg-query for all of them. It exits 1 whenever one of them is unknown to dpkg (never
# installed) and prints only the ones it knows, so its exit status says nothing here; a package
# counts as installed only when its line says so.
status=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${PACKAGES[@]}" 2>/dev/null) || true
installed=" $(awk '$2 == "installed" { printf "%s ", $1 }' <<<"$status") "
missing=()
for package in "${PACKAGES[@]}"; do
    if [[ "$installed" != *" $package "* ]]; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#PACKAGES[@]} packages are installed"
    exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null ||
        fail "${#missing[@]} packages are missing (${missing[*]}) and this is not root: run as root"
    SUDO=(sudo)
fi

echo "install-deps: installing ${#missing[@]} missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
rc=0
"${SUDO[@]}" apt-get update -q || rc=$?
((rc == 0)) || fail "apt-get update exited with $rc: the package lists could not be fetched" \
    "(see apt's messages above; check the network and /etc/apt/sources.list*)"
# With the recommended packages: Wine's Direct3D needs the Mesa drivers it only recommends.
"${SUDO[@]}" apt-get install -y -q "${missing[@]}" || rc=$?
((rc == 0)) || fail "apt-get install exited with $rc while installing: ${missing[*]}" \
    "(see apt's messages above)"
echo "install-deps: installed ${missing[*]}"
