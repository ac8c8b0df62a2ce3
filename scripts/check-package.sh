#!/usr/bin/env bash
# Checks what driver_quillo ships, for one or more build folders (e.g. build/mingw build/linux):
#   - the driver library exports exactly HmdDriverFactory;
#   - Windows programs (driver DLL, quillo-host, Quillo.exe) import only system DLLs: the C and
#     C++ runtimes are linked in, so no libstdc++/libgcc/libwinpthread DLL may be needed;
#   - `cmake --install` of all given builds into one folder lays out the SteamVR driver folder:
#     driver_quillo/driver.vrdrivermanifest, driver_quillo/resources/settings/default.vrsettings
#     (with the documented defaults), driver_quillo/bin/win64/driver_quillo.dll,
#     driver_quillo/bin/linux64/driver_quillo.so, and nothing beside the libraries.
# Exit code 0 when everything holds; every failed check is printed.
set -uo pipefail

usage() {
    echo "usage: scripts/check-package.sh <build dir>..." >&2
    exit 2
}
(($# >= 1)) || usage

failures=0
fail() {
    echo "check-package: FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "check-package: ok: $*"
}

# System DLLs a Windows program of ours may import (compared case-insensitively).
ALLOWED_IMPORTS="kernel32.dll msvcrt.dll ucrtbase.dll user32.dll gdi32.dll winmm.dll d3d11.dll
dxgi.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll ws2_32.dll bcrypt.dll ntdll.dll
shlwapi.dll version.dll"

is_windows_build() {
    grep -q '^CMAKE_SYSTEM_NAME:[A-Z]*=Windows$' "$1/CMakeCache.txt" 2>/dev/null ||
        grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw' "$1/CMakeCache.txt" 2>/dev/null
}

find_built() {  # <build dir> <file name>
    find "$1" -name "$2" -type f -not -path '*/wineprefix/*' -not -path '*/_CPack_*' 2>/dev/null |
        head -n 1
}

OBJDUMP=${QUILLO_OBJDUMP:-x86_64-w64-mingw32-objdump}

# Names in a PE file's export table.
pe_exports() {
    "$OBJDUMP" -p "$1" | awk '
        /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
        inside && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ { print $NF; next }
        inside && NF == 0 { inside = 0 }'
}

pe_imports() {
    "$OBJDUMP" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'
}

check_pe_imports() {  # <file>
    local dll bad=""
    local imports
    imports=$(pe_imports "$1")
    if [[ -z "$imports" ]]; then
        fail "$1: no import table found"
        return
    fi
    while read -r dll; do
        [[ -z "$dll" ]] && continue
        if ! grep -qiwF -- "${dll,,}" <<<"$ALLOWED_IMPORTS"; then
            bad+=" $dll"
        fi
    done <<<"$imports"
    if [[ -n "$bad" ]]; then
        fail "${1#"$BUILD"/} imports non-system DLLs:$bad"
    elif [[ "${2:-}" != quiet ]]; then
        pass "${1#"$BUILD"/} imports only system DLLs: $(tr "\n" " " <<<"$imports")"
    else
        checked_programs=$((checked_programs + 1))
    fi
}

check_windows_build() {  # <build dir>
    local dll exports
    checked_programs=0
    dll=$(find_built "$1" driver_quillo.dll)
    if [[ -z "$dll" ]]; then
        fail "$1: driver_quillo.dll was not built"
        return
    fi
    command -v "$OBJDUMP" >/dev/null || {
        fail "$OBJDUMP not installed (binutils-mingw-w64-x86-64)"
        return
    }
    exports=$(pe_exports "$dll" | sort | tr '\n' ' ')
    if [[ "$exports" == "HmdDriverFactory " ]]; then
        pass "driver_quillo.dll exports exactly HmdDriverFactory"
    else
        fail "driver_quillo.dll exports [${exports% }], expected exactly HmdDriverFactory"
    fi
    check_pe_imports "$dll"
    # Every program built (tools, stand-ins, tests): none may need a runtime DLL either.
    local program
    while read -r program; do
        [[ -n "$program" ]] && check_pe_imports "$program" quiet
    done < <(find "$1" -name '*.exe' -type f -not -path '*/wineprefix/*' -not -path '*/CMakeFiles/*' | sort)
    pass "$checked_programs more programs import only system DLLs"
}

check_linux_build() {  # <build dir>
    local so exports
    so=$(find_built "$1" driver_quillo.so)
    if [[ -z "$so" ]]; then
        fail "$1: driver_quillo.so was not built"
        return
    fi
    exports=$(nm -D --defined-only "$so" | awk 'NF == 3 && $2 ~ /^[TtWwVvDdBbRriu]$/ {print $3}' |
        sort | tr '\n' ' ')
    if [[ "$exports" == "HmdDriverFactory " ]]; then
        pass "driver_quillo.so exports exactly HmdDriverFactory"
    else
        fail "driver_quillo.so exports [${exports% }], expected exactly HmdDriverFactory"
    fi
}

check_settings() {  # <default.vrsettings>
    local key value
    for pair in windowWidth:2560 windowHeight:1440 renderScale:100 hmdMode:0 \
        fakeSensorEnabled:true RotationOffsetXDeg:0 RotationOffsetYDeg:0 RotationOffsetZDeg:0; do
        key=${pair%%:*}
        value=${pair#*:}
        if ! grep -Eq "\"$key\"[[:space:]]*:[[:space:]]*$value([^0-9.]|$)" "$1"; then
            fail "default.vrsettings lacks \"$key\": $value"
        fi
    done
    grep -q '"driver_quillo"[[:space:]]*:' "$1" || fail "default.vrsettings has no \"driver_quillo\" section"
}

prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillo-package.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
expect_win=0
expect_linux=0
for build in "$@"; do
    build=$(cd "$build" 2>/dev/null && pwd -P) || {
        fail "no build folder $build"
        continue
    }
    [[ -f "$build/CMakeCache.txt" ]] || {
        fail "$build is not a configured build folder"
        continue
    }
    BUILD=$build
    if is_windows_build "$build"; then
        expect_win=1
        check_windows_build "$build"
    else
        expect_linux=1
        check_linux_build "$build"
    fi
    if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
        fail "cmake --install $build failed: $(tail -n 5 "$prefix.log")"
    fi
    rm -f "$prefix.log"
done

root="$prefix/driver_quillo"
expected=(driver.vrdrivermanifest resources/settings/default.vrsettings)
((expect_win)) && expected+=(bin/win64/driver_quillo.dll)
((expect_linux)) && expected+=(bin/linux64/driver_quillo.so)
for file in "${expected[@]}"; do
    if [[ -f "$root/$file" ]]; then
        pass "installed driver_quillo/$file"
    else
        fail "cmake --install did not produce driver_quillo/$file"
    fi
done
if [[ -f "$root/resources/settings/default.vrsettings" ]]; then
    check_settings "$root/resources/settings/default.vrsettings"
fi
if [[ -f "$root/driver.vrdrivermanifest" ]]; then
    grep -Eq '"name"[[:space:]]*:[[:space:]]*"quillo"' "$root/driver.vrdrivermanifest" ||
        fail "driver.vrdrivermanifest does not name the driver \"quillo\""
fi
# Nothing else in the driver folder: no runtime DLLs, import libraries or tools beside it.
unexpected=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort | while read -r file; do
    keep=0
    for want in "${expected[@]}"; do
        [[ "$file" == "driver_quillo/$want" ]] && keep=1
    done
    ((keep)) || echo "$file"
done)
if [[ -n "$unexpected" ]]; then
    fail "cmake --install also installed: $(tr "\n" " " <<<"$unexpected")"
fi

if ((failures > 0)); then
    echo "check-package: $failures check(s) failed" >&2
    exit 1
fi
echo "check-package: all checks passed"
