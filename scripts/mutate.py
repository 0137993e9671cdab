#!/usr/bin/env python3
"""Mutation testing: how many small faults in the engine does the suite catch?

One mutant at a time is written into a source file (an operator swapped, a
comparison moved by one, a constant changed), the tree is rebuilt and the
whole suite runs; the mutant is killed when some test fails (or times out)
and survives when every test passes. Mutants that do not compile are not
counted and the next candidate is taken instead.

Candidates are every such change on a code line (comments, preprocessor lines
and string literals are left alone) of the engine's numerical subsystems and
its run driver. They are shuffled with a fixed seed, so the same tree gives
the same mutants. A mutant is identified by its file, the text of its line and
the column of the change, so a list written by one measurement can be replayed
on a later tree (--replay) as long as those lines still exist.

    python3 scripts/mutate.py --count 120 --seed 2026 --out build-mutation/report.tsv
    python3 scripts/mutate.py --replay build-mutation/report.tsv --out after.tsv
    python3 scripts/mutate.py --only 'src/cli/' --count 40   # one part of the tree

The report is a TSV: status (killed / survived / timeout / nobuild / gone),
file, line, column, original and mutated line, and the first failing tests.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Where mutants are drawn from: every folder of the engine and both hosts.
SOURCES = [
    ("src/core", None), ("src/models", None), ("src/randomeffects", None), ("src/optim", None),
    ("src/report", None), ("src/intake", None), ("src/engine", None), ("src/plugin", None),
    ("src/cli", None),
]

# Binary operators are written with a space on each side in this code base,
# so " < " is a comparison and never a template bracket or a shift.
OPERATORS = [
    (" + ", " - "), (" - ", " + "), (" * ", " / "), (" / ", " * "),
    (" < ", " <= "), (" <= ", " < "), (" > ", " >= "), (" >= ", " > "),
    (" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && "),
    (" += ", " -= "), (" -= ", " += "),
]
NUMBER = re.compile(r"(?<![\w.])(\d+\.\d*(?:[eE][-+]?\d+)?|\d+[eE][-+]?\d+|\d+)(?![\w.])")


def mutate_number(text):
    """A changed constant: integers move by one, reals are halved (0 becomes 1)."""
    if re.fullmatch(r"\d+", text):
        return str(int(text) + 1) if int(text) != 1 else "0"
    value = float(text)
    return "1.0" if value == 0.0 else repr(value * 0.5)


def code_part(line):
    """The line with string/char literals blanked and the comment cut off, same length."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            out.append(" ")
            if c == "\\":
                out.append(" ")
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(" ")
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out).ljust(len(line))[: len(line)]


def candidates(pattern=None):
    found = []
    for folder, only in SOURCES:
        path = os.path.join(ROOT, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith(".cpp") or (only and name not in only):
                continue
            rel = os.path.join(folder, name)
            if pattern and not re.search(pattern, rel):
                continue
            with open(os.path.join(ROOT, rel)) as f:
                lines = f.read().split("\n")
            raw_end = None  # the closing delimiter of a raw string literal that spans lines
            for number, line in enumerate(lines, 1):
                prefix = 0
                if raw_end:
                    if raw_end not in line:
                        continue
                    prefix = line.index(raw_end) + len(raw_end)
                    raw_end = None
                stripped = line.strip()
                if not stripped or stripped.startswith(("#", "//", "*", "/*")):
                    continue
                code = " " * prefix + code_part(line[prefix:])
                # A raw string literal R"delim( whose R is code (not inside a
                # literal or comment) and that does not close on this line.
                for opened in re.finditer(r'R"([^()\\ ]*)\(', line):
                    if opened.start() >= prefix and code[opened.start()] == "R":
                        if ")" + opened.group(1) + '"' not in line[opened.end():]:
                            raw_end = ")" + opened.group(1) + '"'
                        break
                for old, new in OPERATORS:
                    for m in re.finditer(re.escape(old), code):
                        found.append((rel, number, m.start(), line, line[: m.start()] + new + line[m.end():]))
                for m in NUMBER.finditer(code):
                    # Leave array sizes of declarations and the digits of names alone.
                    mutated = mutate_number(m.group(1))
                    found.append((rel, number, m.start(), line,
                                  line[: m.start()] + mutated + line[m.end():]))
    return found


def run(cmd, timeout):
    try:
        r = subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout, text=True)
        return r.returncode, r.stdout
    except subprocess.TimeoutExpired as e:
        return None, (e.stdout or b"").decode() if isinstance(e.stdout, bytes) else (e.stdout or "")


def build(build_dir):
    code, out = run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 2)], 900)
    return code == 0, out


def test(build_dir, timeout):
    code, out = run(["ctest", "--test-dir", build_dir, "-j", str(os.cpu_count() or 2),
                     "--timeout", str(timeout)], timeout * 20)
    if code is None:
        return "timeout", []
    failed = re.findall(r"\d+ - (\S+)", out.split("The following tests FAILED:")[-1]) if code else []
    if code == 0:
        return "survived", []
    return ("timeout" if "Timeout" in out else "killed"), failed


def locate(rel, line_text, number):
    """Line number of a mutant's line in today's tree: of the identical lines,
    the one nearest to where it was (code moves, but rarely far)."""
    path = os.path.join(ROOT, rel)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        lines = f.read().split("\n")
    hits = [i + 1 for i, l in enumerate(lines) if l == line_text]
    return min(hits, key=lambda h: abs(h - number)) if hits else None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--count", type=int, default=120, help="mutants that compile (default 120)")
    ap.add_argument("--seed", type=int, default=2026)
    ap.add_argument("--build-dir", default="build-mutation")
    ap.add_argument("--timeout", type=int, default=10,
                    help="seconds per test (the whole suite takes about a second)")
    ap.add_argument("--replay", help="a report of an earlier measurement: the same mutants again")
    ap.add_argument("--out", default=None, help="report file (default BUILD_DIR/mutants.tsv)")
    ap.add_argument("--only", default=None, help="only mutants whose file matches this regex (also with --replay)")
    args = ap.parse_args()
    build_dir = os.path.join(ROOT, args.build_dir)
    out_path = args.out or os.path.join(build_dir, "mutants.tsv")

    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                        "-DKURV_BUILD_BENCH=OFF",
                        f"-DKURV_TEST_TIMEOUT={args.timeout}"], check=True, stdout=subprocess.DEVNULL)
    ok, log = build(build_dir)
    if not ok:
        sys.exit("the unmutated tree does not build:\n" + log[-3000:])
    status, failed = test(build_dir, args.timeout)
    if status != "survived":
        sys.exit("the unmutated tree fails its tests: " + " ".join(failed[:5]))

    if args.replay:
        plan = []
        with open(args.replay) as f:
            for row in f:
                parts = row.rstrip("\n").split("\t")
                if parts[0] in ("status", "nobuild"):
                    continue
                if args.only and not re.search(args.only, parts[1]):
                    continue
                plan.append((parts[1], int(parts[2]), int(parts[3]), parts[4], parts[5]))
        wanted = len(plan)
    else:
        plan = candidates(args.only)
        random.Random(args.seed).shuffle(plan)
        wanted = args.count

    os.makedirs(os.path.dirname(out_path) or ".", exist_ok=True)
    counted = killed = 0
    with open(out_path, "w") as report:
        report.write("status\tfile\tline\tcolumn\toriginal\tmutated\tfailing tests\n")
        for rel, number, column, original, mutated in plan:
            if counted >= wanted:
                break
            path = os.path.join(ROOT, rel)
            where = locate(rel, original, number) if args.replay else number
            if where is None:
                report.write(f"gone\t{rel}\t{number}\t{column}\t{original}\t{mutated}\t\n")
                counted += 1
                continue
            with open(path) as f:
                text = f.read()
            lines = text.split("\n")
            lines[where - 1] = mutated
            try:
                with open(path, "w") as f:
                    f.write("\n".join(lines))
                ok, _ = build(build_dir)
                if not ok:
                    status, failed = "nobuild", []
                else:
                    status, failed = test(build_dir, args.timeout)
            finally:
                with open(path, "w") as f:
                    f.write(text)
                # Make sure the restored file is rebuilt even when its timestamp did not move.
                os.utime(path, (time.time(), time.time()))
            report.write(f"{status}\t{rel}\t{where}\t{column}\t{original}\t{mutated}\t{' '.join(failed[:40])}\n")
            report.flush()
            if status == "nobuild":
                continue
            counted += 1
            killed += status in ("killed", "timeout")
            print(f"[{counted}/{wanted}] {status:8s} {rel}:{where}: {mutated.strip()}", flush=True)
    build(build_dir)
    print(f"score: {killed} of {counted} mutants killed ({100.0 * killed / max(counted, 1):.1f}%)")
    print(f"report: {out_path}")


if __name__ == "__main__":
    main()
