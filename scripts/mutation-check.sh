#!/usr/bin/env bash
# Mutation check: puts single-point faults (tests/mutation/faults.toml) into a scratch copy of
# the tree one at a time, rebuilds a plain native build (Debug, no sanitizer) incrementally,
# runs the tests named for the fault and reports it as caught (a test failed), missed (all
# passed) or did not compile. Exits non-zero when fewer than 90 % of the faults that compile
# are caught, or when a fault's original text is no longer found exactly once in its file (the
# product code moved: re-point the fault).
#
# Usage: scripts/mutation-check.sh [--subset ci] [--id ID]... [--build-dir DIR] [--jobs N] [--cases]
#   --subset ci   only the faults marked ci = true (what CI runs; about ten minutes on 2 cores)
#   --id ID       only the named fault(s)
#   --cases       also name the test cases that caught each fault (all named tests run, none
#                 stops the others), and at the end the cases of those tests that caught none
#   (no option)   every fault: about an hour on 2 cores
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
exec python3 - "$@" <<'PYTHON'
import argparse, filecmp, json, os, re, shutil, subprocess, sys, time, tomllib

parser = argparse.ArgumentParser(prog="mutation-check.sh")
parser.add_argument("--subset", choices=["ci"])
parser.add_argument("--id", action="append", default=[])
parser.add_argument("--build-dir", default="build/mutation")
parser.add_argument("--jobs", default=os.environ.get("QUILLO_JOBS", "2"))
parser.add_argument("--faults", default="tests/mutation/faults.toml")
parser.add_argument("--timeout", type=int, default=120, help="per ctest run, seconds")
parser.add_argument("--cases", action="store_true")
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
             "--output-on-failure"] + ([] if args.cases else ["--stop-on-failure"])
    if targets:
        ctest += ["-R", "^(" + "|".join(targets) + ")$"]
    return "pass" if run(ctest, log_prefix + ".test.log") == 0 else "fail"


def failed_cases(log):
    """The gtest cases a ctest log shows failing; a case that started and never finished (the
    program hung past the time-out or crashed) is marked so."""
    failed, open_cases = [], []
    for line in open(log, errors="replace"):
        match = re.search(r"\[ *(RUN|OK|FAILED|SKIPPED) *\] ([^\s,]+\.[^\s,]+)", line)
        if not match:
            continue
        word, case = match.groups()
        if word == "RUN":
            open_cases.append(case)
            continue
        if case in open_cases:
            open_cases.remove(case)
        if word == "FAILED" and case not in failed:
            failed.append(case)
    return failed + [case + " (did not finish)" for case in open_cases]


def listed_cases(tests):
    """Every gtest case of the named ctest tests, from the programs' --gtest_list_tests."""
    shown = json.loads(subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                                      capture_output=True, text=True, check=True).stdout)
    cases = []
    for test in shown["tests"]:
        if test["name"] not in tests and tests != ["all"]:
            continue
        listing = subprocess.run(test["command"] + ["--gtest_list_tests"], capture_output=True,
                                 text=True).stdout
        suite = None
        for line in listing.splitlines():
            name = line.split("#")[0].strip()
            if not name or line.startswith("Running main"):
                continue
            if line[0].isspace() and suite:
                cases.append(suite + name)
            elif not line[0].isspace():
                suite = name if name.endswith(".") else None
    return cases


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
catchers = set()
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
    if args.cases and outcome == "fail":
        cases = failed_cases(os.path.join(work, "logs", fault["id"] + ".test.log"))
        catchers.update(case.split(" ")[0] for case in cases)
        print("".join(f"    caught by {case}\n" for case in cases) or
              "    caught by no gtest case (see the log)\n", end="", flush=True)

compiled = len(results["caught"]) + len(results["missed"])
caught = len(results["caught"])
share = caught / compiled if compiled else 1.0
print(f"\ntotal: {len(faults)} faults, {caught} caught, {len(results['missed'])} missed, "
      f"{len(results['did-not-compile'])} did not compile; caught {caught}/{compiled} "
      f"= {100 * share:.0f} % of those that compile (needed: 90 %)")
for fault in results["missed"]:
    print(f"  missed: {fault['id']} ({fault['file']}): {fault['breaks']}")
if args.cases:
    idle = [case for case in listed_cases(needed) if case not in catchers]
    print(f"\ncases of {', '.join(needed)} that caught no fault: {len(idle)}")
    print("".join(f"  {case}\n" for case in idle), end="")
sys.exit(0 if share >= 0.9 else 1)
PYTHON
