#!/usr/bin/env python3
"""Mutation testing for the C++ sources: do the tests notice when the code is wrong?

  mutate.py run SOURCE[:FIRST-LAST] ... --build DIR --out RESULT.json [--max N] [--seed S]
  mutate.py run --reuse OLD.json --build DIR --out RESULT.json     (same mutations again)
  mutate.py tests RESULT.json [--binary NAME]     kill count of every test, weakest first
  mutate.py compare BEFORE.json AFTER.json        scores of two runs on the same mutations

`run` applies one mutation at a time, rebuilds only the test program that covers the file
(tests/<layer> for the layer the file lives in), runs its tests with a short timeout and
records which tests failed. The file is restored after every mutation, also on Ctrl+C.
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time

# Which test program covers a source folder (the first matching prefix wins).
TARGETS = [
    ("foundation/toolkit/", "toolkit_tests"),
    ("foundation/effects/", "effects_tests"),
    ("model/", "model_tests"),
    ("document/", "document_tests"),
    ("platform/", "platform_tests"),
    ("view/", "view_tests"),
    ("tools/", "tools_tests"),
    ("dialogs/", "dialogs_tests"),
    ("app/", "app_tests"),
]

COMPARISON_FLIPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
# Spaces around the operator tell a comparison from a template bracket, a shift or `->`:
# the formatter always puts them around binary operators and never inside `<...>`.
COMPARISON = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
LOGICAL = re.compile(r"(?<=\s)(&&|\|\|)(?=\s)")
BOOLEAN = re.compile(r"\b(true|false)\b")
INTEGER = re.compile(r"(?<![\w.'])(\d+)([uUlL]*)(?![\w.'])")
# A statement line that is not a declaration, a return or a control header: dropping one of
# these still compiles, so the mutant tests the tests and not the compiler.
DECLARATION = re.compile(
    r"^(?:(?:const|constexpr|static|inline|unsigned|signed|struct|class|enum)\s+)*"
    r"[A-Za-z_][\w:]*(?:<[^;]*>)?[\s*&]+[A-Za-z_]\w*\s*(?:=|\{|\(|\[|;|,)")
NOT_DROPPABLE = re.compile(r"^(?:return|using|typedef|namespace|template|case|default|#|else|"
                           r"if|for|while|switch|do|public|private|protected|friend|"
                           r"static_assert|co_return|throw)\b")


class Interrupted(Exception):
    pass


def code_mask(text):
    """Marks the characters of `text` that are code (not comments, strings or preprocessor)."""
    mask = bytearray(len(text))
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n:
                    i += 1
                i += 1
            continue
        if c == "\n":
            line_start = True
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
            continue
        if text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            if m:
                end = text.find(")" + m.group(1) + '"', i)
                i = n if end < 0 else end + len(m.group(1)) + 2
                continue
        if c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():
                mask[i] = 1  # digit separator
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            continue
        mask[i] = 1
        i += 1
    return mask


def find_mutations(path, text, first, last):
    mask = code_mask(text)
    lines = text.split("\n")
    found = []
    offset = 0
    previous = ""
    for number, line in enumerate(lines, 1):
        in_range = first <= number <= last

        def code(col, length):
            return all(mask[offset + col + k] for k in range(length))

        if in_range:
            for pattern, kind in ((COMPARISON, "comparison"), (LOGICAL, "logical"),
                                  (BOOLEAN, "boolean")):
                for m in pattern.finditer(line):
                    if not code(m.start(), len(m.group(0))):
                        continue
                    old = m.group(0)
                    if kind == "comparison":
                        new = COMPARISON_FLIPS[old]
                    elif kind == "logical":
                        new = "||" if old == "&&" else "&&"
                    else:
                        new = "false" if old == "true" else "true"
                    found.append((number, m.start(), old, new, kind))
            for m in INTEGER.finditer(line):
                if not code(m.start(), len(m.group(0))):
                    continue
                value = int(m.group(1))
                for delta in (1, -1):
                    if value + delta >= 0:
                        found.append((number, m.start(), m.group(0),
                                      str(value + delta) + m.group(2), "integer"))
            stripped = line.strip()
            prev = previous.strip()
            whole_line = prev == "" or prev.endswith((";", "{", "}", ":")) or prev.startswith("//")
            if (stripped.endswith(";") and whole_line and code(line.index(stripped[0]), 1)
                    and not NOT_DROPPABLE.match(stripped) and not DECLARATION.match(stripped)
                    and stripped.count("(") == stripped.count(")")
                    and stripped.count("{") == stripped.count("}")):
                found.append((number, line.index(stripped[0]), stripped, "", "drop"))
        offset += len(line) + 1
        previous = line
    return [{"file": path, "line": ln, "col": col, "old": old, "new": new, "kind": kind}
            for ln, col, old, new, kind in found]


def apply(text, mutation):
    lines = text.split("\n")
    line = lines[mutation["line"] - 1]
    col, old = mutation["col"], mutation["old"]
    if line[col:col + len(old)] != old:
        raise ValueError(f"{mutation['file']}:{mutation['line']}: source changed since the run")
    if mutation["kind"] == "drop":
        lines[mutation["line"] - 1] = line[:col] + ";  // mutant: dropped"
    else:
        lines[mutation["line"] - 1] = line[:col] + mutation["new"] + line[col + len(old):]
    return "\n".join(lines)


def target_for(path):
    for prefix, target in TARGETS:
        if path.startswith(prefix):
            return target
    raise SystemExit(f"no test program covers {path}; pass --target")


def sh(cmd, timeout, cwd=None):
    """Runs cmd; returns (exit code or None on timeout, output)."""
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True, text=True, errors="replace")
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise


def list_tests(binary):
    code, out = sh([binary, "--gtest_list_tests"], 60)
    tests, suite = [], ""
    for line in out.splitlines():
        if not line.strip() or line.startswith("Running"):
            continue
        name = line.split("#")[0].rstrip()
        if not line.startswith(" "):
            suite = name
        else:
            tests.append(suite + name.strip())
    return tests


def run_binary(binary, timeout, workdir, shards=2):
    """Runs the test program once, split into shards that run side by side; returns
    (status, failed tests), or None when a shard crashed or hung."""
    procs = []
    for i in range(shards):
        report = os.path.join(workdir, f"gtest-{i}.json")
        if os.path.exists(report):
            os.remove(report)
        # Each shard has its own scratch folder, as under ctest.
        scratch = os.path.join(workdir, f"tmp-{i}")
        os.makedirs(scratch, exist_ok=True)
        env = dict(os.environ, GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(i),
                   QUILLO_TEST_TMP=scratch)
        procs.append((subprocess.Popen([binary, f"--gtest_output=json:{report}"], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True), report))
    deadline = time.time() + timeout
    failed, dead = [], False
    try:
        for proc, report in procs:
            try:
                code = proc.wait(timeout=max(0.1, deadline - time.time()))
            except subprocess.TimeoutExpired:
                dead = True
                continue
            if code not in (0, 1) or not os.path.exists(report):
                dead = True
                continue
            with open(report) as f:
                data = json.load(f)
            these = [f"{s['name']}.{t['name']}" for s in data["testsuites"]
                     for t in s["testsuite"] if t.get("failures")]
            dead = dead or (code == 1 and not these)
            failed += these
    finally:
        for proc, _ in procs:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
    if dead:
        return None
    return ("killed" if failed else "survived"), failed


def run_each(binary, tests, timeout, workdir, jobs=2):
    """Runs every test in a process of its own, as ctest does, so that a crash or a hang names
    its test. (ctest itself cannot shorten the timeout the test properties set.)"""
    failed, pending, running = [], list(tests), []
    scratch = os.path.join(workdir, "tmp-each")
    os.makedirs(scratch, exist_ok=True)
    env = dict(os.environ, QUILLO_TEST_TMP=scratch)
    try:
        while pending or running:
            while pending and len(running) < jobs:
                name = pending.pop(0)
                proc = subprocess.Popen([binary, f"--gtest_filter={name}"], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
                running.append((proc, name, time.time() + timeout))
            time.sleep(0.02)
            for entry in list(running):
                proc, name, deadline = entry
                if proc.poll() is None and time.time() < deadline:
                    continue
                if proc.poll() is None:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
                if proc.returncode != 0:
                    failed.append(name)
                running.remove(entry)
    finally:
        for proc, _, _ in running:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
    return ("killed" if failed else "survived"), failed


def run(args):
    root = os.path.abspath(args.root)
    build = os.path.abspath(args.build)
    copied = []
    if args.reuse:
        with open(args.reuse) as f:
            old = json.load(f)["mutations"]
        if args.only_killed:
            # Fewer or weaker tests cannot kill what the old tests let survive, and the code
            # did not change, so what did not compile still does not: only the kills are rerun.
            copied = [dict(m, copied=True) for m in old if m["status"] != "killed"]
            old = [m for m in old if m["status"] == "killed"]
        mutations = [{k: m[k] for k in ("file", "line", "col", "old", "new", "kind")} for m in old]
    else:
        mutations = []
        for source in args.sources:
            path, _, lines = source.partition(":")
            first, _, last = lines.partition("-")
            path = os.path.relpath(os.path.abspath(path), root) if os.path.isabs(path) else path
            with open(os.path.join(root, path)) as f:
                found = find_mutations(path, f.read(), int(first or 1), int(last or first or 10**9))
            if args.max and len(found) > args.max:
                # The seed depends on the file, so one file's sample does not shift with others.
                found = sorted(random.Random(f"{args.seed}:{path}").sample(found, args.max),
                               key=lambda m: (m["line"], m["col"], m["new"]))
            mutations += found
        if args.shuffle:
            # Interleaves the files, so a run stopped early is still a fair sample of all.
            random.Random(args.seed).shuffle(mutations)
    if args.only:
        mutations = [m for m in mutations if m["file"].startswith(tuple(args.only))]
    if args.list:
        for m in mutations:
            print(f"{m['file']}:{m['line']}:{m['col']} {m['kind']} {m['old']!r} -> {m['new']!r}")
        return

    results = {"root": root, "build": build, "started": time.strftime("%Y-%m-%dT%H:%M:%SZ",
                                                                      time.gmtime()),
               "tests": {}, "mutations": list(copied)}
    if args.resume and os.path.exists(args.out):
        # Carries on from an earlier (maybe stopped) run into the same file: what it already
        # measured is kept and not run again.
        with open(args.out) as f:
            earlier = json.load(f)
        results["tests"] = earlier["tests"]
        results["mutations"] = earlier["mutations"]
        done = {mutation_key(m) for m in earlier["mutations"]}
        mutations = [m for m in mutations if mutation_key(m) not in done]
    baselines = {}
    workdir = tempfile.mkdtemp(prefix="mutate-")

    def save():
        os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
        with open(args.out + ".tmp", "w") as f:
            json.dump(results, f, indent=1)
        os.replace(args.out + ".tmp", args.out)

    def interrupted(signum, frame):
        raise Interrupted()

    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)
    try:
        for index, mutation in enumerate(mutations):
            target = args.target or target_for(mutation["file"])
            binary = os.path.join(build, target)
            if target not in baselines:
                code, out = sh(["ninja", "-C", build, target], 1800)
                if code != 0:
                    raise SystemExit(f"{target} does not build unmutated:\n{out[-3000:]}")
                start = time.time()
                base = run_binary(binary, 1800, workdir, args.shards)
                if base is None or base[0] != "survived":
                    raise SystemExit(f"{target} fails unmutated: {base}")
                seconds = time.time() - start
                tests = list_tests(binary)
                baselines[target] = (max(args.timeout, 3 * seconds), tests)
                results["tests"][target] = tests
            timeout, tests = baselines[target]
            source = os.path.join(root, mutation["file"])
            with open(source) as f:
                original = f.read()
            record = dict(mutation)
            start = time.time()
            try:
                with open(source, "w") as f:
                    f.write(apply(original, mutation))
                code, out = sh(["ninja", "-C", build, target], 900)
                if code != 0:
                    record.update(status="invalid", failed=[])
                else:
                    outcome = run_binary(binary, timeout, workdir, args.shards)
                    if outcome is None:
                        # A crash or hang: run the tests one by one to name the ones that noticed.
                        outcome = run_each(binary, tests, args.test_timeout, workdir)
                        outcome = ("killed", outcome[1])
                    record.update(status=outcome[0], failed=outcome[1])
            finally:
                with open(source, "w") as f:
                    f.write(original)
                os.utime(source)
            record["seconds"] = round(time.time() - start, 1)
            results["mutations"].append(record)
            save()
            print(f"[{index + 1}/{len(mutations)}] {record['status']:8} {mutation['file']}:"
                  f"{mutation['line']} {mutation['kind']} {mutation['old']!r} -> "
                  f"{mutation['new']!r} ({len(record['failed'])} tests)", flush=True)
    except (KeyboardInterrupt, Interrupted):
        print("interrupted; the source is restored and the partial results are saved",
              file=sys.stderr)
        results["interrupted"] = True
    finally:
        results["summary"] = summary(results)
        save()
        # Leave the objects matching the restored sources.
        for target in baselines:
            sh(["ninja", "-C", build, target], 1800)
    print(json.dumps(results["summary"]))


def mutation_key(m):
    return (m["file"], m["line"], m["col"], m["old"], m["new"])


def summary(results):
    counted = [m for m in results["mutations"] if m["status"] != "invalid"]
    killed = sum(m["status"] == "killed" for m in counted)
    return {"mutations": len(results["mutations"]), "valid": len(counted), "killed": killed,
            "survived": len(counted) - killed,
            "score": round(killed / len(counted), 4) if counted else None}


def kills(results, binary=None):
    """Per test: how many mutants it killed, and how many only it killed."""
    counts = {}
    for target, tests in results["tests"].items():
        if binary in (None, target):
            for t in tests:
                counts[t] = [0, 0]
    for m in results["mutations"]:
        failed = [t for t in m.get("failed", []) if t in counts]
        for t in failed:
            counts[t][0] += 1
        if len(failed) == 1:
            counts[failed[0]][1] += 1
    return counts


def tests_cmd(args):
    with open(args.result) as f:
        results = json.load(f)
    counts = kills(results, args.binary)
    print(f"{'kills':>6} {'alone':>6}  test")
    for name, (total, alone) in sorted(counts.items(), key=lambda kv: (kv[1][0], kv[1][1], kv[0])):
        print(f"{total:6} {alone:6}  {name}")
    idle = sum(1 for total, _ in counts.values() if total == 0)
    print(f"{idle} of {len(counts)} tests killed nothing")


def compare_cmd(args):
    runs = []
    for path in (args.before, args.after):
        with open(path) as f:
            runs.append(json.load(f))
    key = mutation_key
    before = {key(m): m for m in runs[0]["mutations"]}
    after = {key(m): m for m in runs[1]["mutations"]}
    if set(before) != set(after):
        print("warning: the runs used different mutations", file=sys.stderr)
    for name, run_ in (("before", runs[0]), ("after", runs[1])):
        print(name, json.dumps(summary(run_)))
    lost = [k for k in before if before[k]["status"] == "killed"
            and after.get(k, {}).get("status") == "survived"]
    gained = [k for k in before if before[k]["status"] == "survived"
              and after.get(k, {}).get("status") == "killed"]
    for k in lost:
        print(f"now survives: {k[0]}:{k[1]} {k[3]!r} -> {k[4]!r}")
    for k in gained:
        print(f"now killed:   {k[0]}:{k[1]} {k[3]!r} -> {k[4]!r}")
    return 1 if lost else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    r = sub.add_parser("run", help="mutate sources and run their tests")
    r.add_argument("sources", nargs="*", help="source files relative to --root, FILE[:A-B]")
    r.add_argument("--root", default=".", help="source tree (default: current directory)")
    r.add_argument("--build", default="build", help="configured Ninja build directory")
    r.add_argument("--out", default="build-mut/mutations.json")
    r.add_argument("--max", type=int, default=0, help="sample at most N mutations per file")
    r.add_argument("--seed", default="1")
    r.add_argument("--target", help="test program to rebuild (default: from the file's folder)")
    r.add_argument("--timeout", type=float, default=20, help="least seconds per test run")
    r.add_argument("--test-timeout", type=float, default=15,
                   help="seconds per test when they run one by one")
    r.add_argument("--shards", type=int, default=2, help="test processes side by side")
    r.add_argument("--reuse", help="run the mutations of an earlier result file")
    r.add_argument("--only-killed", action="store_true",
                   help="with --reuse: rerun only the mutations it killed, copy the rest")
    r.add_argument("--shuffle", action="store_true", help="run the mutations in random order")
    r.add_argument("--only", action="append", help="only mutations of files under this prefix")
    r.add_argument("--resume", action="store_true",
                   help="keep the results already in --out and add the missing mutations")
    r.add_argument("--list", action="store_true", help="only print the mutations")
    t = sub.add_parser("tests", help="kill count per test of a result file")
    t.add_argument("result")
    t.add_argument("--binary", help="only the tests of this test program")
    c = sub.add_parser("compare", help="compare two runs of the same mutations")
    c.add_argument("before")
    c.add_argument("after")
    args = parser.parse_args()
    if args.command == "run":
        if not args.sources and not args.reuse:
            parser.error("give source files or --reuse")
        run(args)
    elif args.command == "tests":
        tests_cmd(args)
    else:
        sys.exit(compare_cmd(args))


if __name__ == "__main__":
    main()
