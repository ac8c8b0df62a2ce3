#!/usr/bin/env bash
# Mutation check: puts single-point faults (tests/mutation/faults.toml) into a scratch copy of
# the tree one at a time, rebuilds a plain native build (Debug, no sanitizer) incrementally,
# runs the tests named for the fault and reports it as caught (a test failed), missed (all
# passed) or did not compile. Exits non-zero when fewer than 90 % of the faults that compile
# are caught, or when a fault's original text is no longer found exactly once in its file (the
# product code moved: re-point the fault).
#
# Usage: scripts/mutation-check.sh [--subset ci] [--id ID]... [--build-dir DIR] [--jobs N]
#   --subset ci   only the faults marked ci = true (what CI runs; about ten minutes on 2 cores)
#   --id ID       only the named fault(s)
#   (no option)   every fault: about an hour on 2 cores
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
exec python3 - "$@" <<'PYTHON'
import argparse, filecmp, os, shutil, subprocess, sys, time, tomllib

parser = argparse.ArgumentParser(prog="mutation-check.sh")
parser.add_argument("--subset", choices=["ci"])
parser.add_argument("--id", action="append", default=[])
parser.add_argument("--build-dir", default="build/mutation")
parser.add_argument("--jobs", default=os.environ.get("QUILLO_JOBS", "2"))
parser.add_argument("--faults", default="tests/mutation/faults.toml")
parser.add_argument("--timeout", type=int, default=120, help="per ctest run, seconds")
args = parser.parse_args()

with open(args.faults, "rb") as f:
    faults = tomllib.load(f)["fault"]
ids = [fault["id"] for fault in faults]
if len(ids) != len(set(ids)):
    sys.exit("mutation-check: duplicate fault ids in " + args.faults)
if args.subset == "ci":
    faults = [fault for fault in faults if fault.get("ci", False)]
if args.id:
    unknown = set(args.id) - set(ids)
    if unknown:
        sys.exit("mutation-check: unknown fault ids: " + ", ".join(sorted(unknown)))
    faults = [fault for fault in faults if fault["id"] in args.id]

root = os.getcwd()
work = os.path.abspath(args.build_dir)
tree = os.path.join(work, "tree")
build = os.path.join(work, "build")
COPIED = ["CMakeLists.txt", "cmake", "src", "tests", "tools", "bench", "scripts", "packaging"]


def sync_tree():
    """Copies the sources into the scratch tree, touching only files that changed, so the
    incremental build recompiles only what differs."""
    wanted = set()
    for top in COPIED:
        source = os.path.join(root, top)
        if not os.path.exists(source):
            continue
        paths = [source] if os.path.isfile(source) else [
            os.path.join(d, name) for d, _, names in os.walk(source) for name in names]
        for path in paths:
            rel = os.path.relpath(path, root)
            wanted.add(rel)
            target = os.path.join(tree, rel)
            if os.path.exists(target) and filecmp.cmp(path, target, shallow=False):
                continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(path, target)
            os.utime(target)  # newer than anything built from an older copy
    for d, _, names in os.walk(tree):
        for name in names:
            path = os.path.join(d, name)
            if os.path.relpath(path, tree) not in wanted:
                os.remove(path)


def run(cmd, log, timeout=None):
    with open(log, "w") as out:
        try:
            return subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def tests_of(fault):
    return fault.get("tests") or ["all"]


def build_and_test(tests, log_prefix):
    targets = [] if tests == ["all"] else tests
    build_cmd = ["cmake", "--build", build, "-j", args.jobs]
    for target in targets:
        build_cmd += ["--target", target]
    if run(build_cmd, log_prefix + ".build.log") != 0:
        return "build"
    ctest = ["ctest", "--test-dir", build, "--timeout", str(args.timeout), "-j", args.jobs,
             "--output-on-failure",
             "--stop-on-failure"]
    if targets:
        ctest += ["-R", "^(" + "|".join(targets) + ")$"]
    return "pass" if run(ctest, log_prefix + ".test.log") == 0 else "fail"


# Every fault's original text must still be in the product code, exactly once.
moved = []
for fault in faults:
    path = os.path.join(root, fault["file"])
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
    count = text.count(fault["original"])
    if count != 1:
        moved.append((fault, count))
if moved:
    print("mutation-check: ORIGINAL TEXT NOT FOUND EXACTLY ONCE (product code moved; re-point "
          "these faults in " + args.faults + "):", file=sys.stderr)
    for fault, count in moved:
        print(f"  {fault['id']}: {fault['file']}: found {count} times: {fault['original']!r}",
              file=sys.stderr)
    sys.exit(2)

os.makedirs(os.path.join(work, "logs"), exist_ok=True)
sync_tree()
if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
    env_launcher = ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] \
        if shutil.which("ccache") else []
    configure = ["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                 "-DQUILLO_SANITIZE=OFF"] + env_launcher
    if run(configure, os.path.join(work, "logs", "configure.log")) != 0:
        sys.exit("mutation-check: configure failed, see " + work + "/logs/configure.log")

# The unmodified tree must build and pass the tests the faults name.
needed = sorted({t for fault in faults for t in tests_of(fault)})
if "all" in needed:
    needed = ["all"]
start = time.monotonic()
baseline = build_and_test(needed, os.path.join(work, "logs", "baseline"))
if baseline != "pass":
    sys.exit(f"mutation-check: the unmodified tree does not {'build' if baseline == 'build' else 'pass'}"
             f" ({', '.join(needed)}); see {work}/logs/baseline.*.log")
print(f"baseline: {', '.join(needed)} built and passed ({time.monotonic() - start:.0f} s)")

results = {"caught": [], "missed": [], "did-not-compile": []}
for fault in faults:
    begin = time.monotonic()
    path = os.path.join(tree, fault["file"])
    original = open(path, encoding="utf-8").read()
    with open(path, "w", encoding="utf-8") as f:
        f.write(original.replace(fault["original"], fault["replacement"], 1))
    try:
        outcome = build_and_test(tests_of(fault), os.path.join(work, "logs", fault["id"]))
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)
    verdict = {"fail": "caught", "pass": "missed", "build": "did-not-compile"}[outcome]
    results[verdict].append(fault)
    print(f"{verdict:16} {fault['id']:40} {time.monotonic() - begin:4.0f} s  {fault['breaks']}",
          flush=True)

compiled = len(results["caught"]) + len(results["missed"])
caught = len(results["caught"])
share = caught / compiled if compiled else 1.0
print(f"\ntotal: {len(faults)} faults, {caught} caught, {len(results['missed'])} missed, "
      f"{len(results['did-not-compile'])} did not compile; caught {caught}/{compiled} "
      f"= {100 * share:.0f} % of those that compile (needed: 90 %)")
for fault in results["missed"]:
    print(f"  missed: {fault['id']} ({fault['file']}): {fault['breaks']}")
sys.exit(0 if share >= 0.9 else 1)
PYTHON
