#!/usr/bin/env bash
# Runs every test of driver_quillo, from a fresh Debian 12 machine to a verdict:
#   1. installs the packages (scripts/install-deps.sh);
#   2. builds the Linux preset (Debug, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
#      its tests;
#   2b. builds the linux-tsan preset and runs the threaded link tests under ThreadSanitizer;
#   3. builds the MinGW preset (the Windows product) and runs its tests under Wine;
#   4. checks the formatting of the tracked sources with clang-format;
#   5. checks the driver library's exports and imports and the installed driver folder
#      (scripts/check-package.sh).
# Every step runs even when an earlier one failed (unless its build is missing); the summary
# lists them and the exit code is 0 only when all passed.
#
# Environment:
#   QUILLO_LINUX_BUILD_DIR / QUILLO_MINGW_BUILD_DIR  build folders (default build/linux,
#                                                    build/mingw, as the presets)
#   QUILLO_JOBS                                      parallel compile and test jobs (default 2)
#   QUILLO_SKIP_DEPS=1                               do not run install-deps.sh
#   QUILLO_CTEST_ARGS                                extra ctest arguments (e.g. "-R unit_")
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
ROOT=$(pwd -P)
LINUX_BUILD=${QUILLO_LINUX_BUILD_DIR:-build/linux}
MINGW_BUILD=${QUILLO_MINGW_BUILD_DIR:-build/mingw}
JOBS=${QUILLO_JOBS:-2}
read -r -a CTEST_EXTRA <<<"${QUILLO_CTEST_ARGS:-}"
export CMAKE_BUILD_PARALLEL_LEVEL=$JOBS

START=$SECONDS
SUMMARY=()
FAILED=0

# step <name> <command...>: runs one step, records its result and duration.
step() {
    local name="$1" begin=$SECONDS rc=0
    shift
    echo
    echo "=== $name"
    "$@" || rc=$?
    local took=$((SECONDS - begin))
    if ((rc == 0)); then
        SUMMARY+=("PASS  $(printf '%5ds' "$took")  $name")
    else
        SUMMARY+=("FAIL  $(printf '%5ds' "$took")  $name (exit $rc)")
        FAILED=1
    fi
    return "$rc"
}

skip() {
    SUMMARY+=("SKIP      -   $1")
    FAILED=1
}

format_check() {
    local files=()
    if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        mapfile -t files < <(git -C "$ROOT" ls-files -- '*.h' '*.hpp' '*.c' '*.cpp' |
            grep -v '^src/gpu/shaders/generated/')
    else
        mapfile -t files < <(find src tools tests bench -type f \
            \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) \
            -not -path 'src/gpu/shaders/generated/*' | sort)
    fi
    echo "clang-format $(clang-format --version | sed -n 's/.*version \([0-9.]*\).*/\1/p'):" \
        "${#files[@]} files"
    ((${#files[@]} > 0)) || return 0
    clang-format --dry-run --Werror "${files[@]}"
}

wine_tests() {
    local rc=0
    # Set up the prefix and the display once, before ctest starts tests in parallel.
    scripts/wine-run.sh --prepare "$MINGW_BUILD" || return 1
    ctest --test-dir "$MINGW_BUILD" --output-on-failure --timeout 600 -j "$JOBS" \
        "${CTEST_EXTRA[@]}" || rc=$?
    return "$rc"
}

# The link's threads under ThreadSanitizer: the link, pipe, core, controller and provider tests
# (the stress test among them) in their own build folder.
tsan_tests() {
    local build=${QUILLO_TSAN_BUILD_DIR:-build/linux-tsan}
    cmake --preset linux-tsan -B "$build" &&
        cmake --build "$build" -j "$JOBS" --target unit_pipe unit_core unit_controller unit_driver &&
        TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" ctest --test-dir "$build" \
            --output-on-failure --timeout 600 -R '^unit_(pipe|core|controller|driver)$'
}

if [[ "${QUILLO_SKIP_DEPS:-0}" != 1 ]]; then
    step "install dependencies" scripts/install-deps.sh
fi

if step "configure linux" cmake --preset linux -B "$LINUX_BUILD" &&
    step "build linux" cmake --build "$LINUX_BUILD" -j "$JOBS"; then
    step "test linux" ctest --test-dir "$LINUX_BUILD" --output-on-failure --timeout 300 \
        -j "$JOBS" "${CTEST_EXTRA[@]}"
else
    skip "test linux (no build)"
fi

step "thread sanitizer" tsan_tests

if step "configure mingw" cmake --preset mingw -B "$MINGW_BUILD" &&
    step "build mingw" cmake --build "$MINGW_BUILD" -j "$JOBS"; then
    step "test mingw under wine" wine_tests
    # The prefix's wineserver and Xvfb are not needed any more.
    scripts/wine-run.sh --stop "$MINGW_BUILD" || true
else
    skip "test mingw under wine (no build)"
fi

step "clang-format check" format_check

if [[ -f "$LINUX_BUILD/CMakeCache.txt" && -f "$MINGW_BUILD/CMakeCache.txt" ]]; then
    step "package check" scripts/check-package.sh "$MINGW_BUILD" "$LINUX_BUILD"
else
    skip "package check (missing build)"
fi

echo
echo "=== summary ($((SECONDS - START)) s)"
printf '%s\n' "${SUMMARY[@]}"
if ((FAILED)); then
    echo "RESULT: FAILED"
    exit 1
fi
echo "RESULT: all passed"
