#!/usr/bin/env python3
"""Fault seeding: plants one small fault at a time into the product's sources, rebuilds the
tests that exercise the changed file, runs them, and counts the faults no test notices.

Sites are found in src/, common/, hook/ and components/ (C++ sources; comments, string
literals, data tables and the simulated machine's probe exports SimProbe*.cpp left alone)
for these kinds:
  compare      a comparison turned round or made inclusive/exclusive (== !=, < <=, > >=)
  logic        && and || exchanged
  bound        an off-by-one on a "+ 1" / "- 1"
  swap         the two arguments of a two-argument call exchanged
  drop-call    a call statement of its own line removed
  drop-report  a VESSA_REPORT statement removed
  constant     an integer constant changed by one
  result       "return true;" and "return false;" exchanged
The sites are shuffled with a fixed seed, so a run is repeatable, and taken one kind after
another; --count takes the first N.

For each fault the tests that name the changed file's header or class are rebuilt (natively,
preset native-debug) and run through ctest; a fault is killed when a test fails or times out,
survives when they all pass, and is stillborn when it does not compile. A file no test names
is run against the whole native suite. The score and every survivor are written into
docs/reliability.md between the "mutate" markers. The sources are restored after each fault,
also when the script is interrupted.
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIRS = ["src", "common", "hook", "components"]
BUILD = os.path.join(ROOT, "build", "native-debug")
REPORT = os.path.join(ROOT, "docs", "reliability.md")
BEGIN_MARK = "<!-- mutate:begin -->"
END_MARK = "<!-- mutate:end -->"

KINDS = ["compare", "logic", "bound", "swap", "drop-call", "drop-report", "constant", "result"]

COMPARE = {" == ": " != ", " != ": " == ", " < ": " <= ", " <= ": " < ", " > ": " >= ",
           " >= ": " > "}
CALL_STATEMENT = re.compile(r"^\s+(?:[A-Za-z_][\w:]*(?:\.|->))*[A-Za-z_][\w:]*\(.*\);\s*$")
SWAP = re.compile(r"\b([A-Za-z_]\w*)\(([A-Za-z_][\w.]*|\d+), ([A-Za-z_][\w.]*|\d+)\)")
CONSTANT = re.compile(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(u|U|ull|ULL|ul|UL|ll|LL)?(?![\w.])")
NOT_STATEMENTS = ("return", "if", "for", "while", "switch", "case", "delete", "throw", "else",
                  "using", "typedef", "static_assert", "VESSA_")


class Mutant:
    def __init__(self, path, line, column, original, replacement, kind, span=1):
        self.path = path          # relative to ROOT
        self.line = line          # 1-based first line
        self.column = column      # 0-based column of `original` in that line
        self.original = original  # text replaced (for multi-line drops: the whole lines)
        self.replacement = replacement
        self.kind = kind
        self.span = span          # lines covered (drop-report may span several)
        self.outcome = None
        self.tests = ""

    def describe(self):
        before = self.original.strip().replace("\n", " ")
        after = self.replacement.strip() or "(removed)"
        return f"{self.path}:{self.line} [{self.kind}] `{before}` -> `{after}`"


def code_part(line):
    """The line without its // comment; None for a line that is no code at all."""
    stripped = line.strip()
    if not stripped or stripped.startswith(("//", "#", "*", "/*")):
        return None
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def in_string(code, column):
    """Whether `column` lies inside a string or character literal of `code`."""
    quotes = 0
    i = 0
    while i < column:
        if code[i] == "\\":
            i += 2
            continue
        if code[i] in "\"'":
            quotes += 1
        i += 1
    return quotes % 2 == 1


def sites_of_file(relpath):
    with open(os.path.join(ROOT, relpath), encoding="utf-8") as f:
        lines = f.read().split("\n")
    found = []
    for index, line in enumerate(lines):
        number = index + 1
        code = code_part(line)
        if code is None or "static_assert" in code or code.lstrip().startswith("VESSA_"):
            # Reports are their own kind; their condition text and format stay.
            if code is not None and code.lstrip().startswith("VESSA_REPORT("):
                end = index
                while end < len(lines) and not lines[end].rstrip().endswith(");"):
                    end += 1
                if end < len(lines):
                    original = "\n".join(lines[index:end + 1])
                    found.append(Mutant(relpath, number, 0, original, "", "drop-report",
                                        end - index + 1))
            continue
        for op, replacement in COMPARE.items():
            start = 0
            while (at := code.find(op, start)) >= 0:
                start = at + 1
                # Templates and shifts are no comparisons.
                if op.strip() in ("<", ">") and ("template" in code or "<<" in code or
                                                  ">>" in code or "static_cast" in code):
                    continue
                if not in_string(code, at):
                    found.append(Mutant(relpath, number, at, op, replacement, "compare"))
        for op, replacement in ((" && ", " || "), (" || ", " && ")):
            start = 0
            while (at := code.find(op, start)) >= 0:
                start = at + 1
                if not in_string(code, at):
                    found.append(Mutant(relpath, number, at, op, replacement, "logic"))
        for op in (" + 1", " - 1"):
            start = 0
            while (at := code.find(op, start)) >= 0:
                start = at + 1
                following = code[at + len(op):at + len(op) + 1]
                if following.isalnum() or following in ".x":
                    continue
                if not in_string(code, at):
                    found.append(Mutant(relpath, number, at, op, "", "bound"))
        for match in SWAP.finditer(code):
            if match.group(1) in ("if", "while", "for", "switch", "sizeof", "static_cast"):
                continue
            if match.group(2) == match.group(3) or in_string(code, match.start()):
                continue
            original = match.group(0)
            swapped = f"{match.group(1)}({match.group(3)}, {match.group(2)})"
            found.append(Mutant(relpath, number, match.start(), original, swapped, "swap"))
        stripped = code.strip()
        previous = (code_part(lines[index - 1]) or ";").strip() if index else ";"
        starts_statement = previous.endswith((";", "{", "}", ":"))
        if starts_statement and CALL_STATEMENT.match(code) and not stripped.startswith(NOT_STATEMENTS) and \
                "=" not in stripped.split("(")[0] and " " not in stripped.split("(")[0]:
            found.append(Mutant(relpath, number, 0, line, "", "drop-call"))
        # Lines of data tables (pixels, layouts) are data, not logic.
        if len(CONSTANT.findall(code)) <= 2 and \
                not stripped.startswith(("case ", "enum", "constexpr", "const ", "static constexpr")):
            for match in CONSTANT.finditer(code):
                if in_string(code, match.start()) or "[" in code[:match.start()][-1:]:
                    continue
                value = int(match.group(1), 0)
                text = hex(value + 1) if match.group(1).startswith("0x") else str(value + 1)
                found.append(Mutant(relpath, number, match.start(), match.group(1), text,
                                    "constant"))
        for a, b in (("return true;", "return false;"), ("return false;", "return true;")):
            at = code.find(a)
            if at >= 0:
                found.append(Mutant(relpath, number, at, a, b, "result"))
    return found


def all_sites(kinds):
    sites = []
    for directory in SOURCE_DIRS:
        for base, _, files in os.walk(os.path.join(ROOT, directory)):
            for name in sorted(files):
                if name.endswith(".cpp") and not name.startswith("SimProbe"):
                    rel = os.path.relpath(os.path.join(base, name), ROOT)
                    sites.extend(s for s in sites_of_file(rel) if s.kind in kinds)
    sites.sort(key=lambda s: (s.path, s.line, s.column, s.kind))
    return sites


def apply(mutant):
    """Plants the fault; returns the file's original text."""
    full = os.path.join(ROOT, mutant.path)
    with open(full, encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    first = mutant.line - 1
    if mutant.kind in ("drop-call", "drop-report"):
        indent = re.match(r"\s*", lines[first]).group(0)
        lines[first:first + mutant.span] = [indent + "(void)0;"]
    else:
        line = lines[first]
        assert line[mutant.column:mutant.column + len(mutant.original)] == mutant.original
        lines[first] = (line[:mutant.column] + mutant.replacement +
                        line[mutant.column + len(mutant.original):])
    with open(full, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return text


def restore(mutant, text):
    with open(os.path.join(ROOT, mutant.path), "w", encoding="utf-8") as f:
        f.write(text)


def test_targets():
    """Test target -> its source files, from tests/*/CMakeLists.txt."""
    targets = {}
    pattern = re.compile(r"vessa_add_test\(\s*(\w+)(.*?)\)", re.S)
    for area in sorted(os.listdir(os.path.join(ROOT, "tests"))):
        cmake = os.path.join(ROOT, "tests", area, "CMakeLists.txt")
        if not os.path.exists(cmake):
            continue
        with open(cmake, encoding="utf-8") as f:
            body = f.read()
        for match in pattern.finditer(body):
            words = match.group(2).split()
            if "SOURCES" not in words:
                continue
            sources = []
            for word in words[words.index("SOURCES") + 1:]:
                if word in ("LIBS", "SIM_ONLY", "CONCURRENCY", "SERIAL_ON_WINE"):
                    break
                source = os.path.join("tests", area, word)
                # Sources named through CMake variables are the product's, not tests.
                if os.path.exists(os.path.join(ROOT, source)):
                    sources.append(source)
            targets[match.group(1)] = sources
    return targets


def suites_of(test_file):
    with open(os.path.join(ROOT, test_file), encoding="utf-8") as f:
        body = f.read()
    return set(re.findall(r"^(?:TEST|TEST_F|TEST_P|TYPED_TEST)\(\s*(\w+)\s*,", body, re.M))


def selection_for(path, targets):
    """(targets, ctest regex) for the tests that name the file's header or class (or, in
    components/, the component); None for a file no test names (the whole suite then)."""
    stem = os.path.splitext(os.path.basename(path))[0]
    names = [stem]
    parts = path.split(os.sep)
    if parts[0] == "components" and len(parts) > 1:
        names.append(parts[1])  # a component's tests name the component ("...Controller.dll")
    # A prefix is enough: tests of VessaIcon.cpp include "VessaIconDDi9.h".
    token = re.compile(r"\b(" + "|".join(re.escape(n) for n in names) + r")")
    chosen, suites = [], set()
    for target, sources in targets.items():
        hit = False
        for source in sources:
            with open(os.path.join(ROOT, source), encoding="utf-8") as f:
                if token.search(f.read()):
                    hit = True
                    suites |= suites_of(source)
        if hit:
            chosen.append(target)
    if not chosen or not suites:
        return None
    return chosen, "^(" + "|".join(sorted(suites)) + r")\."


def run(command, timeout, log):
    with open(log, "a") as out:
        out.write("$ " + " ".join(command) + "\n")
        out.flush()
        try:
            return subprocess.run(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def ensure_build(log):
    if run(["cmake", "--preset", "native-debug"], 600, log) != 0:
        sys.exit("mutate: configure failed, see " + log)
    if run(["cmake", "--build", "--preset", "native-debug"], 7200, log) != 0:
        sys.exit("mutate: the unmutated tree does not build, see " + log)


def try_mutant(mutant, targets, args, log):
    selection = selection_for(mutant.path, targets)
    if selection is None:
        build = ["cmake", "--build", "--preset", "native-debug"]
        ctest = ["ctest", "--test-dir", BUILD, "-j2", "--timeout", str(args.timeout),
                 "--stop-on-failure"]
        mutant.tests = "whole suite"
    else:
        chosen, regex = selection
        build = ["cmake", "--build", "--preset", "native-debug", "--target", *chosen]
        ctest = ["ctest", "--test-dir", BUILD, "-j2", "--timeout", str(args.timeout),
                 "--stop-on-failure", "-R", regex]
        mutant.tests = ", ".join(chosen)
    original = apply(mutant)
    try:
        if run(build, 3600, log) != 0:
            return "stillborn"
        return "survived" if run(ctest, 7200, log) == 0 else "killed"
    finally:
        restore(mutant, original)


def write_report(mutants, args, seconds):
    counted = [m for m in mutants if m.outcome in ("killed", "survived")]
    killed = sum(m.outcome == "killed" for m in counted)
    stillborn = sum(m.outcome == "stillborn" for m in mutants)
    score = 100.0 * killed / len(counted) if counted else 0.0
    lines = [
        BEGIN_MARK,
        f"Run of {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}: "
        f"`scripts/mutate.py --seed {args.seed} --count {args.count}"
        + (f" --kinds {','.join(args.kinds)}" if args.kinds != KINDS else "")
        + (f" --files '{args.files}'" if args.files else "") + "`, "
        f"{len(mutants)} faults in {seconds / 60:.0f} min.",
        "",
        f"| faults | killed | survived | stillborn (did not compile) | score |",
        f"|---|---|---|---|---|",
        f"| {len(mutants)} | {killed} | {len(counted) - killed} | {stillborn} | {score:.0f} % |",
        "",
        "| fault | tests run | outcome |",
        "|---|---|---|",
    ]
    for m in mutants:
        lines.append(f"| {m.describe().replace('|', '&#124;')} | {m.tests} | {m.outcome} |")
    lines.append(END_MARK)
    block = "\n".join(lines)
    with open(REPORT, encoding="utf-8") as f:
        text = f.read()
    if BEGIN_MARK in text and END_MARK in text:
        text = text[:text.index(BEGIN_MARK)] + block + text[text.index(END_MARK) +
                                                            len(END_MARK):]
    else:
        text = text.rstrip("\n") + "\n\n" + block + "\n"
    with open(REPORT, "w", encoding="utf-8") as f:
        f.write(text)
    return score


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--count", type=int, default=60, help="faults to try (0: all)")
    parser.add_argument("--kinds", type=lambda s: s.split(","), default=KINDS)
    parser.add_argument("--files", default="", help="only sources matching this regex")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--list", action="store_true", help="print the chosen faults only")
    parser.add_argument("--no-report", action="store_true", help="leave docs/ alone")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the full build of the unmutated tree (each fault still "
                             "builds what its tests need)")
    args = parser.parse_args()
    unknown = set(args.kinds) - set(KINDS)
    if unknown:
        sys.exit("mutate: unknown kinds " + ", ".join(sorted(unknown)))

    sites = all_sites(set(args.kinds))
    if args.files:
        sites = [s for s in sites if re.search(args.files, s.path)]
    # Shuffled with the seed, then taken kind by kind in turn, so a small sample still
    # holds every kind.
    rng = random.Random(args.seed)
    by_kind = {kind: [s for s in sites if s.kind == kind] for kind in args.kinds}
    for group in by_kind.values():
        rng.shuffle(group)
    ordered = []
    while any(by_kind.values()):
        for kind in args.kinds:
            if by_kind[kind]:
                ordered.append(by_kind[kind].pop(0))
    chosen = ordered if args.count == 0 else ordered[:args.count]
    if args.list:
        for m in chosen:
            print(m.describe())
        print(f"{len(chosen)} of {len(sites)} sites")
        return 0

    log = os.path.join(ROOT, "build", "mutate.log")
    os.makedirs(os.path.dirname(log), exist_ok=True)
    open(log, "w").close()
    # An interrupted run still restores the file it changed (apply/restore in try/finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    started = time.time()
    if not args.no_baseline:
        ensure_build(log)
    targets = test_targets()
    for number, mutant in enumerate(chosen, 1):
        mutant.outcome = try_mutant(mutant, targets, args, log)
        print(f"[{number}/{len(chosen)}] {mutant.outcome:9} {mutant.describe()}", flush=True)
        # The table so far, so that a run stopped early still leaves its figures.
        if not args.no_report:
            write_report([m for m in chosen if m.outcome], args, time.time() - started)
    # Leave the build as the sources are.
    if not args.no_baseline:
        run(["cmake", "--build", "--preset", "native-debug"], 7200, log)
    score = 0.0
    if not args.no_report:
        score = write_report(chosen, args, time.time() - started)
    else:
        counted = [m for m in chosen if m.outcome in ("killed", "survived")]
        score = 100.0 * sum(m.outcome == "killed" for m in counted) / max(1, len(counted))
    print(f"mutate: score {score:.0f} % (log: {log})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
