#!/usr/bin/env bash
# Shows driver_quillo at work without SteamVR: builds the Linux release preset, starts the
# reference companion (quillo-companion, image name Quillo.exe) in the background, runs the
# driver library in quillo-host (a stand-in for the runtime) with the shipped default
# settings for a few seconds, showing the companion's live frame figures on one line, then
# stops the companion, prints what both sides saw and plots the frame timing.
#
#   scripts/demo.sh [seconds]          (default 8)
#
# Environment:
#   QUILLO_DEMO_BUILD_DIR     build folder (default build/linux-release)
#   QUILLO_DEMO_HMD_MODE      "hmdMode" setting to run with (default: 0, virtual display, then
#                             2, direct mode, one run after the other)
#   QUILLO_DEMO_FRAMES_MODE   host display-frame mode (default auto: the loop for the display
#                             component the headset offers)
#   QUILLO_DEMO_HOST_ARGS     extra quillo-host options
#   QUILLO_DEMO_COMPANION_ARGS extra quillo-companion options
# Pictures, per mode, in <build folder>/demo-frames-mode<hmdMode>: the companion's last frame
# (last_frame.png), a contact sheet of frames across the run (contact_sheet.png), every
# frame's timing (frame_timing.csv) and its plot (frame_timing.png, drawn with gnuplot).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$(pwd -P)

HOST_SECONDS=${1:-8}

# Without a mode given, show both presenting modes, one run each.
if [[ -z "${QUILLO_DEMO_HMD_MODE:-}" ]]; then
    QUILLO_DEMO_HMD_MODE=0 "$0" "$@" && QUILLO_DEMO_HMD_MODE=2 "$0" "$@"
    exit $?
fi
BUILD_DIR=${QUILLO_DEMO_BUILD_DIR:-build/linux-release}
PRESET=linux-release
DEFAULT_SETTINGS="$ROOT/packaging/default.vrsettings"
DRIVER_LIBRARY="$BUILD_DIR/src/driver_quillo.so"
HOST="$BUILD_DIR/tools/host/quillo-host"
COMPANION="$BUILD_DIR/tools/companion/Quillo.exe"
WORK_DIR=$(mktemp -d "${TMPDIR:-/tmp}/quillo-demo.XXXXXX")
COMPANION_OUTPUT="$WORK_DIR/companion.txt"
HOST_OUTPUT="$WORK_DIR/host.txt"
HOST_PID=""
COMPANION_EVENTS="$WORK_DIR/companion-events.jsonl"
FRAMES_DIR="$BUILD_DIR/demo-frames-mode$QUILLO_DEMO_HMD_MODE"
# The shipped defaults with the chosen mode.
SETTINGS="$WORK_DIR/settings.vrsettings"
COMPANION_PID=""

say() { printf '\n== %s\n' "$*"; }

stop_companion() {
    if [[ -n "$COMPANION_PID" ]] && kill -0 "$COMPANION_PID" 2>/dev/null; then
        kill -TERM "$COMPANION_PID" 2>/dev/null || true
        for _ in $(seq 1 50); do
            kill -0 "$COMPANION_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$COMPANION_PID" 2>/dev/null || true
    fi
    if [[ -n "$COMPANION_PID" ]]; then
        wait "$COMPANION_PID" 2>/dev/null || true
    fi
    COMPANION_PID=""
}
cleanup() {
    if [[ -n "$HOST_PID" ]]; then
        kill -TERM "$HOST_PID" 2>/dev/null || true
        wait "$HOST_PID" 2>/dev/null || true
    fi
    stop_companion
    rm -rf "$WORK_DIR"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# 1. Tools: only when something is missing (installing needs root).
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null; then
    say "installing build tools"
    scripts/install-deps.sh
fi

# 2. Build what the demo runs.
say "building ($PRESET preset in $BUILD_DIR)"
cmake --preset "$PRESET" -B "$BUILD_DIR" >/dev/null
missing_targets=()
for target in tools/host/CMakeLists.txt tools/companion/CMakeLists.txt; do
    [[ -f "$target" ]] || missing_targets+=("$target")
done
if ((${#missing_targets[@]} > 0)); then
    echo "demo: the tree lacks ${missing_targets[*]}: quillo-host and quillo-companion are" \
        "needed for the demo" >&2
    exit 1
fi
if ! cmake --build "$BUILD_DIR" -j "${QUILLO_JOBS:-2}" \
    --target driver_quillo quillo-host quillo-companion >"$WORK_DIR/build.log" 2>&1; then
    cat "$WORK_DIR/build.log" >&2
    echo "demo: the build failed" >&2
    exit 1
fi
for file in "$DRIVER_LIBRARY" "$HOST" "$COMPANION"; do
    [[ -x "$file" || -f "$file" ]] || {
        echo "demo: $file was not built" >&2
        exit 1
    }
done

# 3. The companion: scripted head motion and controllers, a recenter after 3 s, every frame
#    read when the host renders some.
sed -E "s/(\"hmdMode\"[[:space:]]*:[[:space:]]*)[-0-9]+/\1$QUILLO_DEMO_HMD_MODE/" \
    "$DEFAULT_SETTINGS" >"$SETTINGS"
frames_mode=${QUILLO_DEMO_FRAMES_MODE:-auto}
say "hmdMode $QUILLO_DEMO_HMD_MODE, frame loop $frames_mode"

companion_args=(--no-stdin --seconds $((HOST_SECONDS + 30)) --at 3:recenter --log "$COMPANION_EVENTS")
if [[ "$frames_mode" != none ]]; then
    rm -rf "$FRAMES_DIR"
    mkdir -p "$FRAMES_DIR"
    companion_args+=(--frames --png-dir "$FRAMES_DIR")
fi
read -r -a extra_companion <<<"${QUILLO_DEMO_COMPANION_ARGS:-}"
say "starting the companion: $COMPANION ${companion_args[*]} ${extra_companion[*]}"
"$COMPANION" "${companion_args[@]}" "${extra_companion[@]}" >"$COMPANION_OUTPUT" 2>&1 &
COMPANION_PID=$!
# The companion creates its pipes at once; give it a moment so the driver finds it at start.
sleep 1
if ! kill -0 "$COMPANION_PID" 2>/dev/null; then
    echo "demo: the companion ended at start:" >&2
    cat "$COMPANION_OUTPUT" >&2
    exit 1
fi

# 4. The driver in the host.
host_args=(--settings "$SETTINGS" --seconds "$HOST_SECONDS" --pose-every 90)
if [[ "$frames_mode" != none ]]; then
    host_args+=(--frames-mode "$frames_mode")
fi
read -r -a extra_host <<<"${QUILLO_DEMO_HOST_ARGS:-}"
say "running the driver for $HOST_SECONDS s: $HOST ${host_args[*]} ${extra_host[*]} $DRIVER_LIBRARY"
"$HOST" "${host_args[@]}" "${extra_host[@]}" "$DRIVER_LIBRARY" >"$HOST_OUTPUT" 2>&1 &
HOST_PID=$!
# The companion prints its figures once a second; show the newest on one line meanwhile.
LAST_LIVE=""
show_live() {
    local line
    line=$(grep -a '^frames: live' "$COMPANION_OUTPUT" | tail -n 1 | sed 's/^frames: live //' || true)
    [[ -n "$line" && "$line" != "$LAST_LIVE" ]] || return 0
    if [[ -t 1 ]]; then
        printf '\r\033[K%s' "$line"
    else
        printf '%s\n' "$line"
    fi
    LAST_LIVE=$line
}
while kill -0 "$HOST_PID" 2>/dev/null; do
    show_live
    sleep 1
done
host_rc=0
wait "$HOST_PID" || host_rc=$?
HOST_PID=""
if [[ -t 1 && -n "$LAST_LIVE" ]]; then printf '\n'; fi

say "what the host saw"
if [[ $host_rc -eq 0 ]]; then
    grep -a -E '^(display:|frame loop:|scene:|headset components:|Cleanup|quillo-host:)' \
        "$HOST_OUTPUT" || true
else
    cat "$HOST_OUTPUT"
fi

# 5. Stop the companion and show its side.
stop_companion
say "the companion's output"
grep -a -v '^frames: live' "$COMPANION_OUTPUT" || true

# 6. The frame timing as a plot: interval between frames and latency over the run, the
#    target interval marked.
PLOT="$FRAMES_DIR/frame_timing.png"
CSV="$FRAMES_DIR/frame_timing.csv"
rate=90
if [[ "${QUILLO_DEMO_COMPANION_ARGS:-}" =~ --rate[[:space:]]+([0-9]+) ]]; then
    rate=${BASH_REMATCH[1]}
fi
if [[ -f "$CSV" ]]; then
    if command -v gnuplot >/dev/null; then
        if ! gnuplot 2>"$WORK_DIR/gnuplot.txt" <<EOF; then
set datafile separator ","
set terminal pngcairo size 1280,640 font ",11" noenhanced
set output "$PLOT"
set title "hmdMode $QUILLO_DEMO_HMD_MODE: frames at the companion ($rate Hz)"
set xlabel "time since the first frame (s)"
set ylabel "ms"
set key top right
set grid
target = 1000.0 / $rate
set yrange [0:*]
plot "$CSV" using 2:3 with points pt 7 ps 0.4 lc rgb "#1f77b4" title "frame interval", \
     "$CSV" using 2:4 with points pt 7 ps 0.4 lc rgb "#d62728" title "frame latency", \
     target with lines lw 2 dt 2 lc rgb "#2ca02c" title sprintf("target interval %.2f ms", target)
EOF
            cat "$WORK_DIR/gnuplot.txt" >&2
            echo "demo: gnuplot could not draw $PLOT" >&2
        fi
    else
        echo "demo: gnuplot is not installed (Debian package gnuplot-nox); no plot" >&2
    fi
fi

say "pictures (hmdMode $QUILLO_DEMO_HMD_MODE)"
for picture in last_frame.png contact_sheet.png frame_timing.png frame_timing.csv; do
    if [[ -f "$FRAMES_DIR/$picture" ]]; then
        echo "  $FRAMES_DIR/$picture"
    else
        echo "  $FRAMES_DIR/$picture: not written"
    fi
done
say "done (quillo-host exit status $host_rc)"
exit "$host_rc"
