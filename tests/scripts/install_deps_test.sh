#!/usr/bin/env bash
# Runs scripts/install-deps.sh against stand-in dpkg-query, apt-get and sudo commands placed
# first on PATH, so nothing is installed. The stand-in dpkg-query behaves like the real one:
# it prints a line only for packages dpkg knows (installed, or removed with their
# configuration left) and exits 1 as soon as one of the packages is not installed.
#
#   tests/scripts/install_deps_test.sh <path of install-deps.sh>
set -uo pipefail

SCRIPT=${1:?usage: install_deps_test.sh <install-deps.sh>}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/install-deps-test.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/bin"

failures=0
check() {
    local what="$1"
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}

# What dpkg knows: state per package (installed, or config-files for a removed one); every
# other package asked about is unknown to it.
{
    printf '%s installed\n' cmake git g++ wine libgtest-dev nlohmann-json3-dev
    printf '%s config-files\n' clang-format libstb-dev
} >"$WORK/dpkg-state"

cat >"$WORK/bin/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
# dpkg-query -W [-f=FORMAT] PACKAGE...
format='${Package}\t${Version}\n'
packages=()
for arg in "$@"; do
    case "$arg" in
        -W | --show) ;;
        -f=* | --showformat=*) format=${arg#*=} ;;
        -*) echo "dpkg-query stand-in: unexpected option $arg" >&2; exit 2 ;;
        *) packages+=("$arg") ;;
    esac
done
echo "${packages[*]}" >>"$STANDIN_LOG_DIR/dpkg-query.args"
rc=0
for package in "${packages[@]}"; do
    state=$(awk -v p="$package" '$1 == p { print $2 }' "$STANDIN_STATE")
    [[ "$state" == installed ]] || rc=1
    [[ -n "$state" ]] || { echo "dpkg-query: no packages found matching $package" >&2; continue; }
    line=${format//'${Package}'/$package}
    line=${line//'${db:Status-Status}'/$state}
    printf '%b' "${line//'${Version}'/1.0}"
done
exit "$rc"
STANDIN

cat >"$WORK/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$*" >>"$STANDIN_LOG_DIR/apt-get.calls"
[[ "${1:-}" != install || -z "${STANDIN_APT_INSTALL_FAILS:-}" ]] ||
    { echo "E: Unable to locate package something" >&2; exit 100; }
STANDIN

# Runs what it is given, as a non-root user's sudo would after asking for a password.
printf '#!/usr/bin/env bash\nexec "$@"\n' >"$WORK/bin/sudo"
chmod +x "$WORK/bin/"*

export STANDIN_STATE="$WORK/dpkg-state"
PATH="$WORK/bin:$PATH"
export PATH

# run_case <name> [VAR=value...]: runs the script in a fresh log folder; sets rc, out, err.
run_case() {
    export STANDIN_LOG_DIR="$WORK/$1"
    mkdir -p "$STANDIN_LOG_DIR"
    shift
    rc=0
    env "$@" bash "$SCRIPT" >"$STANDIN_LOG_DIR/stdout" 2>"$STANDIN_LOG_DIR/stderr" || rc=$?
    out=$(cat "$STANDIN_LOG_DIR/stdout")
    err=$(cat "$STANDIN_LOG_DIR/stderr")
}

# --- Some packages installed, some removed with their configuration kept, most unknown.
run_case missing
check "exits 0 (exit $rc; stderr: $err)" test "$rc" -eq 0

asked=()
read -r -a asked 2>/dev/null <"$WORK/missing/dpkg-query.args" || true
check "asks dpkg about its package list (${#asked[@]} packages)" test "${#asked[@]}" -gt 10
check "the list names cmake" grep -qx cmake < <(printf '%s\n' "${asked[@]}")

# Expected: every package asked about that the state file does not call installed.
expected=$(printf '%s\n' "${asked[@]}" |
    awk 'NR == FNR { if ($2 == "installed") have[$1] = 1; next } !have[$1]' "$STANDIN_STATE" - |
    sort -u)
check "some of the packages asked about are installed" \
    test "$(wc -l <<<"$expected")" -lt "${#asked[@]}"

mapfile -t calls 2>/dev/null <"$WORK/missing/apt-get.calls" || calls=()
check "apt-get update, then apt-get install, nothing else (calls: ${calls[*]})" \
    test "$(awk '{ printf "%s ", $1 }' "$WORK/missing/apt-get.calls")" = "update install "
requested=$(tr ' ' '\n' <<<"${calls[1]:-}" | sed '1d; /^-/d; /^$/d' | sort -u)
check "apt is asked for exactly the missing packages" diff <(echo "$expected") <(echo "$requested")
check "a package removed with its configuration left is installed again" \
    grep -qx clang-format <<<"$requested"
check "it says what it installs" grep -q "installing.*libbenchmark-dev" <<<"$out"

# --- Everything installed: apt is not run at all.
printf '%s installed\n' "${asked[@]}" >"$WORK/all-installed"
run_case complete STANDIN_STATE="$WORK/all-installed"
check "with nothing missing it exits 0 (exit $rc; stderr: $err)" test "$rc" -eq 0
check "with nothing missing apt-get is not run" test ! -e "$WORK/complete/apt-get.calls"

# --- apt fails: the script fails and says why.
run_case apt_fails STANDIN_APT_INSTALL_FAILS=1
check "a failing apt-get install makes it fail (exit $rc)" test "$rc" -ne 0
check "and it says that apt-get install failed (stderr: $err)" \
    grep -q "apt-get install exited with 100" <<<"$err"

if ((failures)); then
    echo "install_deps_test: $failures checks failed" >&2
    exit 1
fi
echo "install_deps_test: all checks passed"
