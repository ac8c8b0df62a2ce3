#!/usr/bin/env bash
# Runs the README's two commands (scripts/test.sh, scripts/demo.sh) the way a new user would,
# on a bare Debian 12: builds a minimal root with `debootstrap --variant=minbase` from the apt
# source this machine is configured with, copies the checkout's tracked files into it, and runs
# each command in a chroot (with /proc, /sys, /dev and /dev/shm mounted). Prints each
# command's summary and exit code; the full output is kept in the log folder.
#
#   sudo scripts/fresh-machine-check.sh [root folder]
#
# Takes long (every package is downloaded and installed, then both presets are built from
# scratch), so it is not part of CI. Needs root and debootstrap.
#
# Environment:
#   QUILLO_FRESH_MIRROR   Debian mirror to bootstrap from (default: the first Debian source in
#                         /etc/apt/sources.list and /etc/apt/sources.list.d)
#   QUILLO_FRESH_KEEP=1   keep the root folder afterwards (default: removed)
#   QUILLO_FRESH_COMMANDS commands to run, separated by ';' (default: the README's two)
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
CHECKOUT=$(pwd -P)
SUITE=bookworm
COMMANDS=${QUILLO_FRESH_COMMANDS:-scripts/test.sh;scripts/demo.sh}

fail() {
    echo "fresh-machine-check: $*" >&2
    exit 1
}

[[ $(id -u) -eq 0 ]] || fail "needs root (debootstrap, chroot and mounts)"
command -v debootstrap >/dev/null || fail "debootstrap is not installed (apt-get install debootstrap)"
git -C "$CHECKOUT" rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
    fail "$CHECKOUT is not a git checkout: the tracked files are what is copied"

# The mirror: the first Debian archive this machine's apt knows (deb822 .sources files, then
# one-line .list files).
find_mirror() {
    local file uri
    for file in /etc/apt/sources.list.d/*.sources; do
        [[ -f "$file" ]] || continue
        uri=$(awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }' "$file")
        [[ -n "$uri" ]] && { echo "$uri"; return; }
    done
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f "$file" ]] || continue
        uri=$(awk '$1 == "deb" && $0 !~ /security/ {
                       for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$file")
        [[ -n "$uri" ]] && { echo "$uri"; return; }
    done
}
MIRROR=${QUILLO_FRESH_MIRROR:-$(find_mirror)}
[[ -n "$MIRROR" ]] || fail "no Debian source found in /etc/apt; set QUILLO_FRESH_MIRROR"

ROOT=${1:-$(mktemp -d /var/tmp/quillo-fresh.XXXXXX)}
# A root used before holds the packages installed then: it is no longer a bare machine.
[[ ! -e "$ROOT" || -z "$(ls -A "$ROOT")" ]] || fail "$ROOT is not empty; give a new folder"
mkdir -p "$ROOT"
ROOT=$(cd "$ROOT" && pwd -P)
[[ "$ROOT" != / ]] || fail "refusing to use / as the root folder"
LOGS="$ROOT.logs"
mkdir -p "$LOGS"
MOUNTED=()

cleanup() {
    local i
    # Processes a command left behind (wineserver, Xvfb) keep the mounts busy.
    if [[ -d "$ROOT/proc" ]]; then
        for pid_dir in /proc/[0-9]*; do
            [[ "$(readlink "$pid_dir/root" 2>/dev/null)" == "$ROOT" ]] && kill -KILL "${pid_dir#/proc/}" 2>/dev/null || true
        done
    fi
    for ((i = ${#MOUNTED[@]} - 1; i >= 0; i--)); do
        umount "${MOUNTED[i]}" 2>/dev/null || umount -l "${MOUNTED[i]}" || true
    done
    if [[ "${QUILLO_FRESH_KEEP:-0}" == 1 ]]; then
        echo "fresh-machine-check: root kept in $ROOT"
    elif ! findmnt -rn -o TARGET | grep -q "^$ROOT/"; then
        rm -rf --one-file-system "$ROOT"
    else
        echo "fresh-machine-check: $ROOT still has mounts; not removed" >&2
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mount_in_root() { # mount_in_root <target below root> <mount arguments...>
    mkdir -p "$ROOT$1"
    mount "${@:2}" "$ROOT$1"
    MOUNTED+=("$ROOT$1")
}

echo "== debootstrap --variant=minbase $SUITE $ROOT $MIRROR (log: $LOGS/debootstrap.log)"
debootstrap --variant=minbase "$SUITE" "$ROOT" "$MIRROR" >"$LOGS/debootstrap.log" 2>&1 ||
    { tail -n 20 "$LOGS/debootstrap.log" >&2; fail "debootstrap failed"; }

# The same apt sources as this machine (updates and security too), and its name server.
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null || compgen -G "/etc/apt/sources.list.d/*.list" >/dev/null; then
    : >"$ROOT/etc/apt/sources.list"
    for file in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
        [[ -f "$file" ]] && cp "$file" "$ROOT/etc/apt/sources.list.d/"
    done
fi
[[ -f /etc/apt/sources.list && -s /etc/apt/sources.list ]] && cp /etc/apt/sources.list "$ROOT/etc/apt/sources.list"

echo "== copying the tracked files of $CHECKOUT"
rm -rf "$ROOT/root/driver_quillo"
mkdir -p "$ROOT/root/driver_quillo"
git -C "$CHECKOUT" ls-files -z | (cd "$CHECKOUT" && xargs -0 -r sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh) |
    tar -C "$CHECKOUT" --null -T - -cf - | tar -C "$ROOT/root/driver_quillo" -xf -
echo "   $(git -C "$CHECKOUT" ls-files | wc -l) files"

mount_in_root /proc -t proc proc
mount_in_root /sys -t sysfs sysfs
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs -o mode=1777 tmpfs

SUMMARY=()
overall=0
IFS=';' read -r -a commands <<<"$COMMANDS"
for command in "${commands[@]}"; do
    log="$LOGS/$(basename "${command%% *}" .sh).log"
    echo "== running $command in the bare root (log: $log)"
    begin=$SECONDS
    rc=0
    chroot "$ROOT" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        TERM=dumb LANG=C.UTF-8 /bin/bash -c "cd /root/driver_quillo && $command" >"$log" 2>&1 || rc=$?
    took=$((SECONDS - begin))
    echo "-- last lines of $command:"
    # test.sh prints its summary last; for other commands the tail shows how they ended.
    if grep -q '^=== summary' "$log"; then
        sed -n '/^=== summary/,$p' "$log"
    else
        tail -n 15 "$log"
    fi
    SUMMARY+=("$(printf '%-20s exit %3d  %5ds' "$command" "$rc" "$took")")
    ((rc == 0)) || overall=1
done

echo
echo "== fresh machine summary (logs in $LOGS)"
printf '%s\n' "${SUMMARY[@]}"
exit "$overall"
