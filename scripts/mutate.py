#!/usr/bin/env python3
"""Fault seeding: plants one small fault at a time into the product's sources, rebuilds the
tests that exercise the changed file, runs them, and counts the faults no test notices.

Sites are found in src/, common/, hook/ and components/ (C++ sources; comments, string
literals, data tables and the simulated machine's probe exports SimProbe*.cpp left alone)
for these kinds:
  compare      a comparison turned round or made inclusive/exclusive (== !=, < <=, > >=)
  logic        && and || exchanged
  bound        an off-by-one on a "+ 1" / "- 1"
  swap         the two arguments of a two-argument call exchanged (two literals, or two
               names the file declares with the same type)
  drop-call    a call statement of its own line removed
  drop-report  a VESSA_REPORT statement removed
  constant     an integer constant changed by one
  result       "return true;" and "return false;" exchanged
A fault never moves a line: a dropped statement leaves its lines empty, a dropped "+ 1"
leaves blanks, so __LINE__ and the sanitizers' source locations stay as they were.
The sites are shuffled with a fixed seed, so a run is repeatable, and taken one kind after
another; --count takes the first N that compile.

The unmutated native-debug tree is built, and every ctest case run once for its time (cases
failing without a fault are left out; build/native-debug/mutate-baseline.json keeps the times
for --no-baseline). Then, for each fault:
  1. the changed file's objects are compiled with the build's own commands, warnings not
     made errors; a fault that does not compile is stillborn;
  2. objects equal to the unmutated ones once debug sections are stripped mean the fault
     changes nothing that runs (a line the build does not compile, a dead store the
     optimiser drops): the fault is equivalent, and no test runs;
  3. ninja relinks only what is linked from those objects (build.ninja's edges, modules
     loaded at run time included through the tests' declared dependencies), and the cases
     of the test executables that depend on them run, two at a time, each bounded by five
     times its unmutated time (at least 30 s), until the first failure. The executables
     whose sources name the file's header or class (or its component) run; with --wide the
     other dependent executables follow when those pass. A file no test names runs every
     dependent executable.
A fault is killed when a case fails or times out and survives when all pass. The score
(killed among killed and survived) and every fault are written into docs/reliability.md
between the "mutate" markers. The sources (and their objects, when nothing was relinked)
are restored after each fault, also when the script is interrupted.
"""
import argparse
import json
import os
import random
import re
import hashlib
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIRS = ["src", "common", "hook", "components"]
BUILD = os.path.join(ROOT, "build", "native-debug")
REPORT = os.path.join(ROOT, "docs", "reliability.md")
BASELINE = os.path.join(BUILD, "mutate-baseline.json")
BEGIN_MARK = "<!-- mutate:begin -->"
END_MARK = "<!-- mutate:end -->"

KINDS = ["compare", "logic", "bound", "swap", "drop-call", "drop-report", "constant", "result"]

COMPARE = {" == ": " != ", " != ": " == ", " < ": " <= ", " <= ": " < ", " > ": " >= ",
           " >= ": " > "}
CALL_STATEMENT = re.compile(r"^\s+(?:[A-Za-z_][\w:]*(?:\.|->))*[A-Za-z_][\w:]*\(.*\);\s*$")
SWAP = re.compile(r"\b([A-Za-z_]\w*)\(([A-Za-z_][\w.]*|\d+), ([A-Za-z_][\w.]*|\d+)\)")
CONSTANT = re.compile(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(u|U|ull|ULL|ul|UL|ll|LL)?(?![\w.])")
DECLARATION = re.compile(r"\b([A-Za-z_][\w:]*(?:<[\w:, *]*>)?)\s*[*&]*\s+[*&]*([A-Za-z_]\w*)\s*[,)=;{\[]")
NOT_TYPES = {"return", "case", "else", "delete", "throw", "goto", "const", "new", "sizeof"}
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
        self.killer = ""

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


def declared_type(name, text):
    """The type a name is declared with in the file ("const RECT*" -> "RECT"), or None."""
    if re.fullmatch(r"\d+", name):
        return "literal"
    found = None
    for match in DECLARATION.finditer(text):
        if match.group(2) == name and match.group(1) not in NOT_TYPES:
            found = match.group(1)
    return found


def swappable(first, second, text):
    """Whether exchanging two arguments still makes a program: both literals, or two names
    declared with the same type. Exchanging a buffer and a size is no fault a compiler
    lets through."""
    first_type = declared_type(first.split(".")[0], text) if "." not in first else None
    second_type = declared_type(second.split(".")[0], text) if "." not in second else None
    return first_type is not None and first_type == second_type


def sites_of_file(relpath):
    with open(os.path.join(ROOT, relpath), encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
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
                    # Blanks in its place keep every later column, so the sanitizers'
                    # source locations of the line stay as they were.
                    found.append(Mutant(relpath, number, at, op, " " * len(op), "bound"))
        for match in SWAP.finditer(code):
            if match.group(1) in ("if", "while", "for", "switch", "sizeof", "static_cast"):
                continue
            if match.group(2) == match.group(3) or in_string(code, match.start()):
                continue
            if not swappable(match.group(2), match.group(3), text):
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
    """Plants the fault; returns the file's original text. A dropped statement leaves as many
    lines as it took, so every later line (and every __LINE__) keeps its number."""
    full = os.path.join(ROOT, mutant.path)
    with open(full, encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    first = mutant.line - 1
    if mutant.kind in ("drop-call", "drop-report"):
        indent = re.match(r"\s*", lines[first]).group(0)
        lines[first:first + mutant.span] = [indent + "(void)0;"] + [""] * (mutant.span - 1)
    else:
        line = lines[first]
        assert line[mutant.column:mutant.column + len(mutant.original)] == mutant.original
        lines[first] = (line[:mutant.column] + mutant.replacement +
                        line[mutant.column + len(mutant.original):])
    with open(full, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return text


class BuildTree:
    """What the native-debug build tree knows: each source's objects and compile commands
    (compile_commands.json), and which outputs depend on which (build.ninja)."""

    def __init__(self):
        with open(os.path.join(BUILD, "compile_commands.json"), encoding="utf-8") as f:
            self.compiles = {}
            for entry in json.load(f):
                output = re.search(r"\s-o\s+(\S+)", entry["command"]).group(1)
                self.compiles.setdefault(os.path.realpath(entry["file"]), []).append(
                    (entry["directory"], entry["command"], output))
        self.users = {}  # input -> outputs built from it (explicit, implicit or order-only)
        with open(os.path.join(BUILD, "build.ninja"), encoding="utf-8") as f:
            text = f.read().replace("$\n", "")
        for line in text.split("\n"):
            if not line.startswith("build "):
                continue
            words = [w.replace("\0", " ").replace("$:", ":")
                     for w in line[6:].replace("$ ", "\0").split()]
            colon = next(i for i, w in enumerate(words) if w.endswith(":") and
                         not w.endswith("$:"))
            outputs = [w for w in words[:colon] + [words[colon][:-1]] if w and w != "|"]
            for word in words[colon + 2:]:
                if word not in ("|", "||", "|@"):
                    self.users.setdefault(word, set()).update(outputs)

    def objects_of(self, relpath):
        """[(directory, command, object path)] of every compile of the source."""
        return self.compiles.get(os.path.realpath(os.path.join(ROOT, relpath)), [])

    def dependents(self, outputs):
        """Every output that is (re)built from any of `outputs`, transitively."""
        seen, todo = set(), list(outputs)
        while todo:
            for user in self.users.get(todo.pop(), ()):
                if user not in seen:
                    seen.add(user)
                    todo.append(user)
        return seen


def stripped_digest(path):
    """A digest of the object without its debug sections: code, data and the sanitizers'
    source locations stay, so equal digests mean the fault changed nothing that runs."""
    out = path + ".mutate-stripped"
    try:
        if subprocess.run(["objcopy", "--strip-debug", path, out], capture_output=True).returncode:
            return None
        with open(out, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    finally:
        if os.path.exists(out):
            os.remove(out)


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


def naming_targets(path, targets):
    """The test targets whose sources name the file's header or class (or, in components/,
    the component): their tests are run first, as the likeliest to notice the fault."""
    stem = os.path.splitext(os.path.basename(path))[0]
    names = [stem]
    parts = path.split(os.sep)
    if parts[0] == "components" and len(parts) > 1:
        names.append(parts[1])  # a component's tests name the component ("...Controller.dll")
    # A prefix is enough: tests of VessaIcon.cpp include "VessaIconDDi9.h".
    token = re.compile(r"\b(" + "|".join(re.escape(n) for n in names) + r")")
    chosen = set()
    for target, sources in targets.items():
        for source in sources:
            with open(os.path.join(ROOT, source), encoding="utf-8") as f:
                if token.search(f.read()):
                    chosen.add(target)
                    break
    return chosen


class TestCase:
    def __init__(self, name, command, environment, directory):
        self.name = name
        self.command = command
        self.environment = environment
        self.directory = directory
        self.target = os.path.basename(command[0])
        self.seconds = None  # in the unmutated tree


def discover_tests(log):
    """Every ctest case of the native build with its command, from ctest's own listing."""
    listing = subprocess.run(["ctest", "--test-dir", BUILD, "--show-only=json-v1"], cwd=ROOT,
                             capture_output=True, text=True)
    with open(log, "a") as out:
        out.write(listing.stderr)
    cases = []
    for test in json.loads(listing.stdout)["tests"]:
        if "command" not in test:
            continue
        properties = {p["name"]: p["value"] for p in test.get("properties", [])}
        environment = dict(os.environ)
        for pair in properties.get("ENVIRONMENT", []):
            key, _, value = pair.partition("=")
            environment[key] = value
        cases.append(TestCase(test["name"], test["command"], environment,
                              properties.get("WORKING_DIRECTORY", BUILD)))
    return cases


RUNNING = set()  # test processes under way, ended on an interruption
STOPPING = threading.Event()


def run_case(case, timeout):
    """'passed', 'failed' or 'timeout'; the case's process group dies with it."""
    started = time.time()
    process = subprocess.Popen(case.command, cwd=case.directory, env=case.environment,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL, start_new_session=True)
    RUNNING.add(process)
    try:
        code = process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return "timeout", time.time() - started
    finally:
        RUNNING.discard(process)
    return ("passed" if code == 0 else "failed"), time.time() - started


def interrupted(*_):
    """Ends the tests under way and leaves through try_mutant's restoring `finally`."""
    STOPPING.set()
    for process in list(RUNNING):
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    sys.exit(130)


def run_cases(cases, args, stop_on_failure):
    """Runs the cases two at a time in their order; returns {name: (outcome, seconds)}. With
    stop_on_failure no new case starts once one has failed."""
    results, lock = {}, threading.Lock()
    queue = list(cases)
    failed = threading.Event()

    def worker():
        while not (stop_on_failure and failed.is_set()) and not STOPPING.is_set():
            with lock:
                if not queue:
                    return
                case = queue.pop(0)
            limit = args.timeout if case.seconds is None else \
                max(args.min_timeout, args.timeout_factor * case.seconds)
            outcome, seconds = run_case(case, limit)
            with lock:
                results[case.name] = (outcome, seconds)
            if outcome != "passed":
                failed.set()

    workers = [threading.Thread(target=worker, daemon=True) for _ in range(args.jobs)]
    for w in workers:
        w.start()
    for w in workers:
        while w.is_alive():
            w.join(0.2)  # wakes for a signal
    return results


def run(command, timeout, log):
    with open(log, "a") as out:
        out.write("$ " + " ".join(command) + "\n")
        out.flush()
        try:
            return subprocess.run(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def ninja(outputs, log):
    return run(["ninja", "-C", BUILD, *outputs], 3600, log) == 0


class Restorer:
    """Puts a file back as it was, and with it its objects when the fault left them alone in
    substance: same bytes and times, so ninja rebuilds and relinks nothing."""

    def __init__(self, mutant, text, objects):
        self.path = os.path.join(ROOT, mutant.path)
        self.text = text
        self.times = os.stat(self.path)
        self.objects = []
        for directory, _, output in objects:
            full = os.path.join(directory, output)
            with open(full, "rb") as f:
                self.objects.append((full, f.read(), os.stat(full)))

    def source_back(self):
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(self.text)

    def all_back(self):
        self.source_back()
        os.utime(self.path, ns=(self.times.st_atime_ns, self.times.st_mtime_ns))
        for full, data, times in self.objects:
            with open(full, "wb") as f:
                f.write(data)
            os.utime(full, ns=(times.st_atime_ns, times.st_mtime_ns))


def compile_mutant(objects, log):
    """Compiles the planted fault with the build's own commands, warnings not made errors (a
    fault is a change in behaviour; a style warning it draws, like -Wparentheses after an
    exchanged && in a chain of ||, does not make it stillborn)."""
    for directory, command, _ in objects:
        with open(log, "a") as out:
            out.write("$ " + command + " -Wno-error\n")
            out.flush()
            if subprocess.run(command + " -Wno-error", shell=True, cwd=directory, stdout=out,
                              stderr=subprocess.STDOUT, timeout=900).returncode:
                return False
    return True


class Campaign:
    def __init__(self, args, log):
        self.args = args
        self.log = log
        self.tree = BuildTree()
        self.targets = test_targets()
        self.cases = discover_tests(log)
        self.stale = set()  # test executables last linked with a fault, to be rebuilt

    def baseline(self):
        """Runs every case in the unmutated tree for its time; a case that fails there tells
        nothing about a fault and is left out."""
        results = run_cases(self.cases, self.args, stop_on_failure=False)
        kept = []
        for case in self.cases:
            outcome, seconds = results[case.name]
            case.seconds = seconds
            if outcome == "passed":
                kept.append(case)
            else:
                print(f"mutate: {case.name} {outcome} without a fault; left out", flush=True)
        left_out = [c.name for c in self.cases if c not in kept]
        self.cases = kept
        with open(BASELINE, "w") as f:
            json.dump({"seconds": {c.name: c.seconds for c in self.cases},
                       "left out": left_out}, f, indent=0)

    def load_baseline(self):
        with open(BASELINE) as f:
            baseline = json.load(f)
        seconds = baseline["seconds"]
        self.cases = [c for c in self.cases if c.name not in baseline["left out"]]
        # A case added since (a new test) runs under the plain --timeout bound.
        for case in self.cases:
            case.seconds = seconds.get(case.name)

    def try_mutant(self, mutant):
        objects = self.tree.objects_of(mutant.path)
        if not objects:
            mutant.tests = "not compiled natively"
            return "not compiled"
        outputs = [os.path.relpath(os.path.join(d, o), BUILD) for d, _, o in objects]
        # The objects as the unmutated source makes them (usually already so).
        if not ninja(outputs, self.log):
            sys.exit("mutate: the unmutated " + mutant.path + " does not build, see " + self.log)
        before = [stripped_digest(os.path.join(BUILD, o)) for o in outputs]
        text = open(os.path.join(ROOT, mutant.path), encoding="utf-8").read()
        restorer = Restorer(mutant, text, objects)
        try:
            apply(mutant)
            # The build's own view of the file stays unchanged: ninja sees no new source and
            # only relinks what uses the objects compiled here.
            os.utime(restorer.path, ns=(restorer.times.st_atime_ns, restorer.times.st_mtime_ns))
            if not compile_mutant(objects, self.log):
                restorer.all_back()
                return "stillborn"
            # ninja keeps each object's header dependencies with the object's time: a newer
            # object would be compiled again (with warnings as errors). The object keeps its
            # old time, and what is linked from it is made older instead (test_mutant).
            for full, _, times in restorer.objects:
                os.utime(full, ns=(times.st_atime_ns, times.st_mtime_ns))
            after = [stripped_digest(os.path.join(BUILD, o)) for o in outputs]
            if None not in before and before == after:
                restorer.all_back()
                mutant.tests = "none (same object code)"
                return "equivalent"
            return self.test_mutant(mutant, outputs)
        finally:
            if os.path.exists(restorer.path) and \
                    open(restorer.path, encoding="utf-8").read() != text:
                restorer.source_back()  # new time: ninja recompiles it when next needed

    def outdate_links(self, outputs):
        """Makes every library, module or executable linked directly from the objects older
        than them, so that ninja links it again, and everything built from it in turn."""
        for output in outputs:
            older = os.stat(os.path.join(BUILD, output)).st_mtime_ns - 1_000_000_000
            for user in self.tree.users.get(output, ()):
                full = os.path.join(BUILD, user)
                if not user.endswith(".o") and os.path.isfile(full):
                    os.utime(full, ns=(older, older))

    def test_mutant(self, mutant, outputs):
        self.outdate_links(outputs)
        built = self.tree.dependents(outputs)
        executables = {os.path.basename(o) for o in built if o.startswith("tests/")}
        cases = [c for c in self.cases if c.target in executables and
                 (c.seconds or 0) <= self.args.max_test_seconds]
        naming = naming_targets(mutant.path, self.targets)
        first = sorted((c for c in cases if c.target in naming), key=lambda c: c.seconds or 0)
        rest = sorted((c for c in cases if c.target not in naming), key=lambda c: c.seconds or 0)
        if not cases:
            mutant.tests = "none depends on it"
            return "survived"
        if first and not self.args.wide:
            rest = []
        ran = []
        for stage in (first, rest):
            if not stage:
                continue
            stage_targets = sorted({c.target for c in stage})
            # Executables left linked with an earlier fault are rebuilt in the same go.
            if not ninja(["tests/" + t for t in sorted(set(stage_targets) | self.stale)],
                         self.log):
                mutant.tests = ", ".join(stage_targets)
                return "stillborn"  # links only fail when the fault removed a definition
            self.stale = set()
            ran.extend(t for t in stage_targets if t not in ran)
            results = run_cases(stage, self.args, stop_on_failure=True)
            self.stale |= set(stage_targets)
            failures = [n for n, (o, _) in results.items() if o != "passed"]
            if failures:
                mutant.tests = ", ".join(ran)
                mutant.killer = f"{failures[0]} ({results[failures[0]][0]})"
                return "killed"
        mutant.tests = ", ".join(ran)
        return "survived"

    def finish(self):
        """Leaves the build as the sources are."""
        if self.stale:
            ninja(["tests/" + t for t in sorted(self.stale)], self.log)


def write_report(mutants, args, seconds):
    counted = [m for m in mutants if m.outcome in ("killed", "survived")]
    killed = sum(m.outcome == "killed" for m in counted)
    stillborn = sum(m.outcome == "stillborn" for m in mutants)
    same = sum(m.outcome == "equivalent" for m in mutants)
    score = 100.0 * killed / len(counted) if counted else 0.0
    lines = [
        BEGIN_MARK,
        f"Run of {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}: "
        f"`scripts/mutate.py --seed {args.seed} --count {args.count}"
        + (f" --kinds {','.join(args.kinds)}" if args.kinds != KINDS else "")
        + (f" --files '{args.files}'" if args.files else "") + "`, "
        f"{len(mutants)} faults in {seconds / 60:.0f} min.",
        "",
        "| faults | killed | survived | same object code (equivalent) | stillborn (did not compile) | score |",
        "|---|---|---|---|---|---|",
        f"| {len(mutants)} | {killed} | {len(counted) - killed} | {same} | {stillborn} | {score:.0f} % |",
        "",
        "| fault | tests run | outcome |",
        "|---|---|---|",
    ]
    for m in mutants:
        outcome = m.outcome + (f" by `{m.killer}`" if m.killer else "")
        lines.append(f"| {m.describe().replace('|', '&#124;')} | {m.tests} | {outcome} |")
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
    parser.add_argument("--count", type=int, default=60,
                        help="faults that compile to try (0: all)")
    parser.add_argument("--kinds", type=lambda s: s.split(","), default=KINDS)
    parser.add_argument("--files", default="", help="only sources matching this regex")
    parser.add_argument("--pick", default="",
                        help="only the faults whose description matches this regex")
    parser.add_argument("--jobs", type=int, default=2, help="tests run at once")
    parser.add_argument("--timeout", type=int, default=120,
                        help="seconds per test without a baseline time")
    parser.add_argument("--timeout-factor", type=float, default=5.0,
                        help="a test may take this many times its unmutated time ...")
    parser.add_argument("--min-timeout", type=float, default=30.0, help="... and at least this")
    parser.add_argument("--max-test-seconds", type=float, default=1e9,
                        help="leave out tests whose unmutated run took longer")
    parser.add_argument("--wide", action="store_true",
                        help="when the tests naming the file pass, run every other test "
                             "executable linked with it too")
    parser.add_argument("--list", action="store_true", help="print the chosen faults only")
    parser.add_argument("--no-report", action="store_true", help="leave docs/ alone")
    parser.add_argument("--no-baseline", action="store_true",
                        help="reuse the last unmutated build and test times "
                             "(build/native-debug/mutate-baseline.json); the test "
                             "executables must be built, since their cases are listed first")
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
    if args.pick:
        ordered = [m for m in ordered if re.search(args.pick, m.describe())]
    if args.list:
        for m in ordered if args.count == 0 else ordered[:args.count]:
            print(m.describe())
        print(f"{len(ordered)} of {len(sites)} sites")
        return 0

    log = os.path.join(ROOT, "build", "mutate.log")
    os.makedirs(os.path.dirname(log), exist_ok=True)
    open(log, "w").close()
    # An interrupted run still restores the file it changed (try_mutant's finally).
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)
    started = time.time()
    if not args.no_baseline:
        if run(["cmake", "--preset", "native-debug"], 600, log) != 0:
            sys.exit("mutate: configure failed, see " + log)
        if run(["cmake", "--build", "--preset", "native-debug"], 7200, log) != 0:
            sys.exit("mutate: the unmutated tree does not build, see " + log)
    campaign = Campaign(args, log)
    if args.no_baseline and os.path.exists(BASELINE):
        campaign.load_baseline()
    else:
        campaign.baseline()
        print(f"mutate: {len(campaign.cases)} tests pass unmutated "
              f"({sum(c.seconds for c in campaign.cases):.0f} s of test time)", flush=True)
    tried, compiled = [], 0
    try:
        for mutant in ordered:
            if args.count and compiled >= args.count:
                break
            begun = time.time()
            mutant.outcome = campaign.try_mutant(mutant)
            if mutant.outcome == "not compiled":
                continue  # a file of the other build; no fault of this one
            tried.append(mutant)
            compiled += mutant.outcome != "stillborn"
            print(f"[{compiled}] {mutant.outcome:10} {time.time() - begun:5.0f} s  "
                  f"{mutant.describe()}" + (f"  ({mutant.killer})" if mutant.killer else ""),
                  flush=True)
            # The table so far, so that a run stopped early still leaves its figures.
            if not args.no_report:
                write_report(tried, args, time.time() - started)
    finally:
        campaign.finish()
    counted = [m for m in tried if m.outcome in ("killed", "survived")]
    score = 100.0 * sum(m.outcome == "killed" for m in counted) / max(1, len(counted))
    if not args.no_report:
        write_report(tried, args, time.time() - started)
    print(f"mutate: score {score:.0f} % of {len(counted)} (log: {log})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
