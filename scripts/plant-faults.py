#!/usr/bin/env python3
"""Plants the faults of scripts/faults.txt in the product, one at a time, and
records which tests catch each.

For each fault: the change is made in a copy of the sources (build-faults/src,
so the worktree stays free), the tests and programs are rebuilt
incrementally, every test runs with ctest (unit and database tests, through a
private Firebird server started here by scripts/fbserver.sh and stopped by its
PID at the end), the failing tests are recorded and the file is restored. A
fault whose text is not found exactly once, or that does not compile, is
reported as not valid. Not part of `make test`.

  scripts/plant-faults.py [--rev REV] [--only C01,D10] [--check] [--out FILE]

--rev takes the sources (product and tests) of a commit instead of the
worktree; --check only applies and compiles each fault; --out writes the
table (Markdown) to FILE as well as to standard output.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TARGETS = ["unit_tests", "db_tests", "cancela-empenhos", "kz-cifra"]


class Fault:
    def __init__(self, ident, path, what):
        self.id, self.path, self.what, self.pairs = ident, path, what, []


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def read_faults(path):
    faults, current, old = [], None, None
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#"):
            continue
        m = re.match(r"^([A-Z]\d\d) (\S+) \| (.+)$", line)
        if m:
            current = Fault(*m.groups())
            faults.append(current)
        elif line.startswith("- ") and current:
            old = unescape(line[2:])
        elif line.startswith("+ ") and current and old is not None:
            current.pairs.append((old, unescape(line[2:])))
            old = None
        else:
            sys.exit(f"{path}:{number}: cannot read: {line}")
    for f in faults:
        if not f.pairs:
            sys.exit(f"fault {f.id} has no change")
    return faults


def run(cmd, **kw):
    return subprocess.run(cmd, text=True, capture_output=True, **kw)


def sync_sources(src, rev):
    """Makes `src` hold the files of REV (or of the worktree), rewriting only
    files whose content differs so that the build stays incremental."""
    wanted = {}
    if rev:
        names = run(["git", "-C", ROOT, "ls-tree", "-r", "--name-only", rev], check=True).stdout
        for name in names.splitlines():
            blob = subprocess.run(["git", "-C", ROOT, "show", f"{rev}:{name}"],
                                  capture_output=True, check=True).stdout
            wanted[name] = blob
    else:
        names = run(["git", "-C", ROOT, "ls-files", "-co", "--exclude-standard"], check=True).stdout
        for name in names.splitlines():
            full = os.path.join(ROOT, name)
            if os.path.isfile(full) and not os.path.islink(full):
                wanted[name] = open(full, "rb").read()
    for name, data in wanted.items():
        dest = os.path.join(src, name)
        if os.path.exists(dest) and open(dest, "rb").read() == data:
            continue
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        with open(dest, "wb") as f:
            f.write(data)
    for top, _, files in os.walk(src):
        for name in files:
            rel = os.path.relpath(os.path.join(top, name), src)
            if rel not in wanted:
                os.remove(os.path.join(top, name))
    for name in ("scripts/fbserver.sh", "scripts/test.sh"):
        if os.path.exists(os.path.join(src, name)):
            os.chmod(os.path.join(src, name), 0o755)


def build(build_dir, src, targets):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        r = run(["cmake", "-S", src, "-B", build_dir, "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=RelWithDebInfo"])
        if r.returncode:
            return r.stdout + r.stderr
    r = run(["cmake", "--build", build_dir, "-j", "2", "--target", *targets])
    return None if r.returncode == 0 else (r.stdout + r.stderr)


def ctest(build_dir, jobs, env, tests=None, timeout=300):
    """The tests that fail, and those that failed once but passed when run
    again (timing under load, not the fault): every failing test is run a
    second time and counts only when it fails again."""
    junit = os.path.join(build_dir, "faults-junit.xml")

    def once(extra):
        if os.path.exists(junit):
            os.remove(junit)
        only = ["-R", tests] if tests else []
        run(["ctest", "--test-dir", build_dir, "-j", str(jobs), "--timeout", str(timeout),
             "--output-junit", junit, *only, *extra], env=env)
        failed, total = set(), 0
        for case in ET.parse(junit).getroot().iter("testcase"):
            total += 1
            if case.get("status") != "run" or case.find("failure") is not None:
                failed.add(case.get("name"))
        return failed, total

    failed, total = once([])
    again = once(["--rerun-failed"])[0] if failed else set()
    return sorted(failed & again), sorted(failed - again), total


def apply(fault, src):
    path = os.path.join(src, fault.path)
    if not os.path.exists(path):
        return None, f"{fault.path} does not exist"
    original = open(path, encoding="utf-8").read()
    text = original
    for old, new in fault.pairs:
        n = text.count(old)
        if n != 1:
            return None, f"found {n} times: {old!r}"
        text = text.replace(old, new)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return original, None


def restore(fault, src, original):
    with open(os.path.join(src, fault.path), "w", encoding="utf-8") as f:
        f.write(original)


def start_server():
    out = run([os.path.join(ROOT, "scripts", "fbserver.sh"), "start"], check=True).stdout
    env = {}
    for name, value in re.findall(r"(KZ_TEST_FB_\w+)=(\S+)", out):
        env[name] = value
    return env


def table(faults, results, baseline_failed):
    lines = ["| fault | what | caught by | tests |", "|---|---|---|---|"]
    caught, invalid, missed = 0, [], []
    kills = {}
    for f in faults:
        r = results.get(f.id)
        if r is None:
            continue
        if r.get("invalid"):
            invalid.append(f.id)
            lines.append(f"| {f.id} | {f.what} | NOT VALID: {r['invalid']} | - |")
            continue
        tests = [t for t in r["failed"] if t not in baseline_failed]
        for t in tests:
            kills.setdefault(t, []).append(f.id)
        if tests:
            caught += 1
        else:
            missed.append(f.id)
        lines.append(f"| {f.id} `{f.path}` | {f.what} | {', '.join(tests) or '**none**'} | "
                     f"{len(tests)} |")
    valid = sum(1 for f in faults if f.id in results and not results[f.id].get("invalid"))
    lines += ["", f"Faults planted: {valid} valid"
              + (f" ({len(invalid)} not valid: {', '.join(invalid)})" if invalid else "")
              + f"; caught: {caught}; not caught: {len(missed)}"
              + (f" ({', '.join(missed)})" if missed else "") + "."]
    if baseline_failed:
        lines.append(f"Failing without any fault (left out above): {', '.join(baseline_failed)}.")
    sole = {}
    for f in faults:
        r = results.get(f.id)
        if r and not r.get("invalid"):
            tests = [t for t in r["failed"] if t not in baseline_failed]
            if len(tests) == 1:
                sole.setdefault(tests[0], []).append(f.id)
    lines += ["", "| test | faults caught | caught by no other test |", "|---|---|---|"]
    for t in sorted(kills, key=lambda t: (-len(kills[t]), t)):
        lines.append(f"| {t} | {len(kills[t])} | {', '.join(sole.get(t, [])) or '-'} |")
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--rev", help="take the sources of this commit (default: the worktree)")
    ap.add_argument("--faults", default=os.path.join(ROOT, "scripts", "faults.txt"))
    ap.add_argument("--work", default=os.path.join(ROOT, "build-faults"))
    ap.add_argument("--only", help="comma-separated fault ids")
    ap.add_argument("--check", action="store_true", help="apply and compile only")
    ap.add_argument("--jobs", type=int, default=3, help="ctest parallelism (default 3)")
    ap.add_argument("--tests", help="run only the tests matching this regular expression")
    ap.add_argument("--timeout", type=int, default=300,
                    help="seconds a test may take before it counts as failed (default 300)")
    ap.add_argument("--out", help="also write the table to this file")
    ap.add_argument("--json", help="where to keep the results (default: WORK/results.json)")
    ap.add_argument("--table", nargs="+", metavar="JSON",
                    help="only print the table of earlier results (a later file's result of a "
                         "fault replaces an earlier one's)")
    args = ap.parse_args()

    faults = read_faults(args.faults)
    if args.table:
        results, baseline_failed = {}, []
        for path in args.table:
            data = json.load(open(path))
            results.update(data["results"])
            baseline_failed = sorted(set(baseline_failed) | set(data["baseline_failed"]))
        text = table(faults, results, baseline_failed)
        print(text)
        if args.out:
            with open(args.out, "w") as out:
                out.write(text)
        return
    if args.only:
        wanted = set(args.only.split(","))
        faults = [f for f in faults if f.id in wanted]
    src, build_dir = os.path.join(args.work, "src"), os.path.join(args.work, "build")
    os.makedirs(src, exist_ok=True)
    sync_sources(src, args.rev)
    targets = ["cancela-empenhos", "kz-cifra"] if args.check else TARGETS
    err = build(build_dir, src, targets)
    if err:
        sys.exit("the sources do not build without a fault:\n" + err[-3000:])

    env = dict(os.environ)
    server = {}
    if not args.check:
        server = start_server()
        env.update(server)
        env["FIREBIRD_LOCK"] = os.path.join(args.work, "lock")
        os.makedirs(env["FIREBIRD_LOCK"], exist_ok=True)
    results, baseline_failed = {}, []
    try:
        if not args.check:
            t0 = time.time()
            baseline_failed, _, total = ctest(build_dir, args.jobs, env, args.tests, args.timeout)
            print(f"baseline: {total} tests, {len(baseline_failed)} failing "
                  f"{baseline_failed} ({time.time() - t0:.0f} s)", flush=True)
        for f in faults:
            t0 = time.time()
            original, problem = apply(f, src)
            if problem:
                results[f.id] = {"invalid": problem}
                print(f"{f.id}: NOT VALID: {problem}", flush=True)
                continue
            try:
                err = build(build_dir, src, targets)
                if err:
                    first = [l.split("error: ", 1)[1] for l in err.splitlines()
                             if "error: " in l][:3]
                    results[f.id] = {"invalid": "does not compile: " + " / ".join(first)}
                elif args.check:
                    results[f.id] = {"failed": []}
                else:
                    failed, flaky, _ = ctest(build_dir, args.jobs, env, args.tests, args.timeout)
                    results[f.id] = {"failed": failed, "flaky": flaky}
            finally:
                restore(f, src, original)
            r = results[f.id]
            shown = r.get("invalid") or (", ".join(r["failed"]) or
                                         ("ok" if args.check else "NOT CAUGHT"))
            if r.get("flaky"):
                shown += f" (passed when run again: {', '.join(r['flaky'])})"
            print(f"{f.id} ({time.time() - t0:.0f} s): {shown}", flush=True)
            with open(args.json or os.path.join(args.work, "results.json"), "w") as out:
                json.dump({"rev": args.rev, "baseline_failed": baseline_failed,
                           "results": results}, out, indent=1)
    finally:
        if server:
            run([os.path.join(ROOT, "scripts", "fbserver.sh"), "stop", server["KZ_TEST_FB_DIR"]])
        build(build_dir, src, targets)  # leave the build as the sources are

    if args.check:
        bad = [f"{i}: {r['invalid']}" for i, r in results.items() if r.get("invalid")]
        print(f"{len(results) - len(bad)} of {len(results)} faults apply and compile")
        for b in bad:
            print("  " + b)
        sys.exit(1 if bad else 0)
    text = table(faults, results, baseline_failed)
    print(text)
    if args.out:
        with open(args.out, "w") as out:
            out.write(text)


if __name__ == "__main__":
    main()
