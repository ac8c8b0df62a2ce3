#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine, for tests and tools of the MinGW build.
#
#   scripts/wine-run.sh <program.exe> [args...]   run it; the exit code is the program's
#   scripts/wine-run.sh --prepare [<path>]        only set up the prefix and the display
#   scripts/wine-run.sh --stop [<path>]           stop the prefix's wineserver and its Xvfb
#
# The prefix's wineserver, its system processes and the Xvfb keep running between runs (a
# watchdog ends them after QUILLO_WINE_IDLE_SECONDS, default 900, without use).
#
# CMake uses this script as CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs every Windows test
# through it.
#
# Where the Wine prefix lives: $QUILLO_WINEPREFIX if set, otherwise <build dir>/wineprefix,
# where the build dir is the nearest folder above the program (or <path>, or the current
# folder) that holds a CMakeCache.txt. Each build dir has its own prefix, so builds never
# share a wineserver.
#
# The display: Wine's Direct3D 11 only creates a device when DISPLAY points at an X server
# that already accepts connections. If DISPLAY is unusable, the script starts one Xvfb per
# prefix (on a free display number chosen by Xvfb itself) and reuses it on later runs. That
# Xvfb is detached from the caller's output so ctest never waits for it; `--stop` ends it.
set -euo pipefail

die() {
    echo "wine-run.sh: $*" >&2
    exit 125
}

find_wine() {
    local candidate
    for candidate in "${QUILLO_WINE:-}" "$(command -v wine64 || true)" /usr/lib/wine/wine64 \
        /usr/lib/wine64/wine64 /opt/wine-stable/bin/wine64 "$(command -v wine || true)"; do
        if [[ -n "$candidate" && -x "$candidate" ]]; then
            echo "$candidate"
            return 0
        fi
    done
    die "no wine64 found (install the wine and wine64 packages, see scripts/install-deps.sh)"
}

find_wineserver() {
    local wine_dir candidate
    wine_dir=$(dirname "$WINE_BIN")
    for candidate in "$wine_dir/wineserver64" "$wine_dir/wineserver" \
        "$(command -v wineserver || true)"; do
        if [[ -n "$candidate" && -x "$candidate" ]]; then
            echo "$candidate"
            return 0
        fi
    done
    die "no wineserver found next to $WINE_BIN"
}

# Nearest folder at or above $1 holding a CMakeCache.txt, or nothing.
find_build_dir() {
    local dir
    dir=$(cd "$1" 2>/dev/null && pwd -P) || return 0
    while [[ "$dir" != "/" && -n "$dir" ]]; do
        if [[ -f "$dir/CMakeCache.txt" ]]; then
            echo "$dir"
            return 0
        fi
        dir=$(dirname "$dir")
    done
}

choose_prefix() {
    local hint="$1" build_dir=""
    if [[ -n "${QUILLO_WINEPREFIX:-}" ]]; then
        echo "$QUILLO_WINEPREFIX"
        return 0
    fi
    if [[ -n "$hint" ]]; then
        if [[ -d "$hint" ]]; then
            build_dir=$(find_build_dir "$hint")
        else
            build_dir=$(find_build_dir "$(dirname "$hint")")
        fi
    fi
    [[ -n "$build_dir" ]] || build_dir=$(find_build_dir "$PWD")
    if [[ -n "$build_dir" ]]; then
        echo "$build_dir/wineprefix"
    else
        echo "${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quillo/wineprefix"
    fi
}

# True when an X server answers on display $1 (":N").
display_answers() {
    local display="$1" number
    [[ -n "$display" ]] || return 1
    if command -v xdpyinfo >/dev/null 2>&1; then
        timeout 10 xdpyinfo -display "$display" >/dev/null 2>&1
        return $?
    fi
    # Without xdpyinfo only local displays can be checked: their socket must exist.
    number=${display#*:}
    number=${number%%.*}
    [[ "$display" == :* && -S "/tmp/.X11-unix/X$number" ]]
}

# Display of this prefix's own Xvfb if it is still running.
own_display() {
    local pid display
    [[ -f "$STATE_DIR/xvfb.pid" && -f "$STATE_DIR/xvfb.display" ]] || return 1
    pid=$(<"$STATE_DIR/xvfb.pid")
    display=":$(<"$STATE_DIR/xvfb.display")"
    [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null || return 1
    display_answers "$display" || return 1
    echo "$display"
}

# In a subshell before exec: closes every descriptor above 2, so a daemon started from here
# holds none of the caller's pipes (ctest waits for its pipes to close) or locks open.
close_inherited_fds() {
    local fd
    for fd in "/proc/$BASHPID/fd/"*; do
        fd=${fd##*/}
        if ((fd > 2)); then
            eval "exec $fd>&-" 2>/dev/null || true
        fi
    done
}

start_xvfb() {
    local xvfb pid number="" waited=0
    xvfb=$(command -v Xvfb) || die "DISPLAY is unusable and Xvfb is not installed"
    rm -f "$STATE_DIR/xvfb.display" "$STATE_DIR/xvfb.pid" "$STATE_DIR/xvfb.number"
    # -displayfd: Xvfb picks a free display number and writes it once it accepts connections.
    (
        close_inherited_fds
        exec 3>"$STATE_DIR/xvfb.number"
        exec setsid "$xvfb" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
            </dev/null >"$STATE_DIR/xvfb.log" 2>&1
    ) &
    pid=$!
    while ((waited < 300)); do
        if [[ -s "$STATE_DIR/xvfb.number" ]]; then
            number=$(tr -dc '0-9' <"$STATE_DIR/xvfb.number")
            [[ -n "$number" ]] && break
        fi
        kill -0 "$pid" 2>/dev/null || die "Xvfb exited at start: $(tail -n 5 "$STATE_DIR/xvfb.log")"
        sleep 0.1
        waited=$((waited + 1))
    done
    [[ -n "$number" ]] || die "Xvfb did not become ready within 30 s"
    echo "$pid" >"$STATE_DIR/xvfb.pid"
    echo "$number" >"$STATE_DIR/xvfb.display"
    echo ":$number"
}

# Sets DISPLAY to a server that accepts connections. Called with the prefix lock held.
ensure_display() {
    local display
    if [[ -n "${DISPLAY:-}" && -z "${QUILLO_FORCE_XVFB:-}" ]] && display_answers "$DISPLAY"; then
        return 0
    fi
    if display=$(own_display); then
        export DISPLAY="$display"
        return 0
    fi
    export DISPLAY
    DISPLAY=$(start_xvfb)
}

# Creates the prefix once. Called with the prefix lock held.
ensure_prefix() {
    [[ -f "$STATE_DIR/prefix.ready" && -f "$WINEPREFIX/system.reg" ]] && return 0
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko installers: they would ask in a dialog nobody answers.
    if ! (close_inherited_fds; WINEDLLOVERRIDES="mscoree,mshtml=" exec "$WINE_BIN" wineboot -i \
        </dev/null >"$STATE_DIR/wineboot.log" 2>&1); then
        die "wineboot -i failed for $WINEPREFIX: $(tail -n 5 "$STATE_DIR/wineboot.log")"
    fi
    # wineboot returns before the registry is flushed; wait for this prefix's server to end.
    (close_inherited_fds; exec "$WINESERVER_BIN" -w </dev/null >/dev/null 2>&1) || true
    touch "$STATE_DIR/prefix.ready"
}

# Makes sure the prefix's wineserver and its system processes (services, device drivers,
# rpcss) run, started from here with no inherited pipes. Otherwise the first test would start
# them and they would hold that test's output pipe open until the last Wine process ends, and
# ctest would wait for it. The server is persistent (-p): with a finite persistence Wine ends
# the system processes whenever the last program exits, and the next test would start them
# again with its own pipes. A watchdog ends the server after a long idle time.
ensure_server() {
    local rc=0
    (close_inherited_fds; exec "$WINESERVER_BIN" -p </dev/null >/dev/null 2>&1) || rc=$?
    # 2: a server already runs for this prefix (ours from an earlier run, or someone else's).
    ((rc == 0)) || return 0
    (close_inherited_fds; exec "$WINE_BIN" cmd.exe /c exit </dev/null >/dev/null 2>&1) || true
    (
        close_inherited_fds
        exec setsid "$SCRIPT_PATH" --watch "$WINEPREFIX" </dev/null >/dev/null 2>&1
    ) &
    echo $! >"$STATE_DIR/watchdog.pid"
}

prepare() {
    mkdir -p "$STATE_DIR"
    exec 9>"$STATE_DIR/init.lock"
    flock -w 600 9 || die "timed out waiting for the lock on $STATE_DIR"
    ensure_display
    ensure_prefix
    ensure_server
    touch "$STATE_DIR/last-use"
    # The descriptor is closed before Wine starts: no Windows process keeps the lock.
    exec 9>&-
}

# True while a program other than Wine's own system processes runs in this prefix.
prefix_has_programs() {
    local environ pid cmdline
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        [[ "$pid" == "$$" ]] && continue
        if tr '\0' '\n' 2>/dev/null <"$environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            cmdline=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" || true)
            case "$cmdline" in
                "" | *wineserver* | *wine-run.sh* | 'C:\windows\system32\'*) ;;
                *) return 0 ;;
            esac
        fi
    done
    return 1
}

# Ends this prefix's server and Xvfb once nothing used them for QUILLO_WINE_IDLE_SECONDS.
watch() {
    local idle_limit="${QUILLO_WINE_IDLE_SECONDS:-900}" now last
    while sleep 30; do
        # A newer watchdog (for a newer server) took over.
        [[ "$(cat "$STATE_DIR/watchdog.pid" 2>/dev/null)" == "$$" ]] || exit 0
        [[ -f "$STATE_DIR/last-use" ]] || break
        now=$(date +%s)
        last=$(stat -c %Y "$STATE_DIR/last-use" 2>/dev/null || echo 0)
        if ((now - last > idle_limit)) && ! prefix_has_programs; then
            break
        fi
    done
    exec 9>"$STATE_DIR/init.lock"
    flock -w 60 9 || true
    stop_server_and_display
}

stop_server_and_display() {
    local pid
    if [[ -d "$WINEPREFIX" ]]; then
        "$WINESERVER_BIN" -k </dev/null >/dev/null 2>&1 || true
    fi
    if [[ -f "$STATE_DIR/xvfb.pid" ]]; then
        pid=$(<"$STATE_DIR/xvfb.pid")
        if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
        fi
        rm -f "$STATE_DIR/xvfb.pid" "$STATE_DIR/xvfb.display"
    fi
}

stop() {
    local pid
    if [[ -f "$STATE_DIR/watchdog.pid" ]]; then
        pid=$(<"$STATE_DIR/watchdog.pid")
        if [[ -n "$pid" ]] && grep -q -- "--watch" "/proc/$pid/cmdline" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
        fi
        rm -f "$STATE_DIR/watchdog.pid"
    fi
    stop_server_and_display
}

main() {
    [[ $# -ge 1 ]] || die "usage: wine-run.sh <program.exe> [args...] | --prepare [path] | --stop [path]"

    SCRIPT_PATH=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)/$(basename "${BASH_SOURCE[0]}")
    mode=run
    case "$1" in
        --prepare) mode=prepare; shift ;;
        --stop) mode=stop; shift ;;
        --watch) mode=watch; shift ;;
    esac

    WINE_BIN=$(find_wine)
    WINESERVER_BIN=$(find_wineserver)
    export WINEPREFIX
    if [[ "$mode" == watch ]]; then
        WINEPREFIX="$1"
    else
        WINEPREFIX=$(choose_prefix "${1:-}")
    fi
    STATE_DIR="$WINEPREFIX.run"
    export WINEDEBUG="${QUILLO_WINEDEBUG:--all}"
    export WINELOADER="$WINE_BIN"
    export WINESERVER="$WINESERVER_BIN"
    export WINEARCH=win64

    case "$mode" in
        prepare)
            prepare
            echo "WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
            ;;
        stop)
            stop
            ;;
        watch)
            watch
            ;;
        run)
            prepare
            program="$1"
            shift
            [[ -e "$program" ]] || die "no such program: $program"
            # exec: the caller's signals (a ctest time-out) reach the Windows process directly.
            exec "$WINE_BIN" "$program" "$@"
            ;;
    esac
}

# One line: bash has read the whole script before running any of it, so editing the file
# never disturbs a long-running watchdog.
main "$@"; exit $?
