#!/usr/bin/env bash
# Regenerates the eye-pass bytecode headers src/gpu/shaders/generated/eye_pass_{vs,ps}.h from
# the HLSL sources in src/gpu/shaders/ with D3DCompile (d3dcompiler_47), and prints their sizes.
# Commit the headers together with the sources: the driver ships the committed bytes, and the
# Windows build's unit_shaders test checks that they are what the sources compile to.
#
# On Linux the compiler is Wine's d3dcompiler_47: the helper tools/shaderc/shaderc.cpp is built
# with MinGW-w64 and run through scripts/wine-run.sh (its own Wine prefix under
# build/shaderc/). On Windows (MSYS2/Git Bash with MinGW-w64 g++ on PATH) the same helper runs
# natively against Microsoft's d3dcompiler_47.dll. Equivalent by hand on Windows with fxc:
#   fxc /nologo /T vs_4_0 /E main /Fh eye_pass_vs.h /Vn kEyePassVertexShader eye_pass_vs.hlsl
#   fxc /nologo /T ps_4_0 /E main /Fh eye_pass_ps.h /Vn kEyePassPixelShader eye_pass_ps.hlsl
# (fxc's header layout differs: the generated headers here also carry kEyePass*Size and
# kEyePass*Compiler, which the code uses, so prefer this script.)
#
# Different compilers give different, equally valid bytecode; each header records the compiler
# that made it, and the bytecode test compares only under that same compiler.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
work="$root/build/shaderc"
mkdir -p "$work"

case "$(uname -s)" in
    MINGW* | MSYS* | CYGWIN*)
        cxx=${CXX:-g++}
        run=()
        ;;
    *)
        cxx=${QUILLO_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
        run=("$root/scripts/wine-run.sh")
        # The helper's Wine prefix lives beside it, not in a CMake build folder.
        export QUILLO_WINEPREFIX="${QUILLO_WINEPREFIX:-$work/wineprefix}"
        ;;
esac
command -v "$cxx" >/dev/null || { echo "compile-shaders.sh: no $cxx" >&2; exit 1; }

"$cxx" -std=c++17 -O1 -Wall -Wextra -static \
    -I"$root/src" -I"$root/tools/shaderc" \
    "$root/tools/shaderc/shaderc.cpp" -o "$work/shaderc.exe"

# The helper takes the repository root relative to the current folder, which works the same
# natively and under Wine (where the current Unix folder is reachable through drive Z:).
cd "$root"
status=0
"${run[@]}" "$work/shaderc.exe" . || status=$?
if ((${#run[@]} > 0)); then
    # Ends the helper prefix's wineserver (and the Xvfb wine-run.sh may have started for it).
    "${run[@]}" --stop "$work" || true
fi
exit $status
