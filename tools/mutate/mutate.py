#!/usr/bin/env python3
"""Seeded faults: how many single-line mistakes in a file would the tests let through?

For each source file under the given paths it makes single-line mutants (a relational or
equality operator flipped, + and - or * and / swapped, a constant moved by one, the last two
operands of a call swapped, a condition negated, a statement deleted, two adjacent statements
swapped), builds only the test programs that link the file, runs them, and reports every mutant
they did not catch as file:line with the change. The tree is always restored, also on Ctrl-C.
It works in its own build folder, so later runs rebuild only what changed.

    tools/mutate/mutate.py camera/                      # every mutant of every file
    tools/mutate/mutate.py --per-file 20 --seed 7 app/ skinned/skindraw.cpp

A mutant that does not compile is stillborn and not counted. A surviving mutant is either a
gap in the tests or equivalent (no input can tell it from the original): look at each.
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
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

# Spaced binary operators only, so that templates, streams and pointers are left alone.
SWAPS = [(" <= ", " < "), (" < ", " <= "), (" >= ", " > "), (" > ", " >= "), (" == ", " != "),
         (" != ", " == "), (" + ", " - "), (" - ", " + "), (" * ", " / "), (" / ", " * ")]
STATEMENT = re.compile(r"^\s*[\w:.\->\[\]()*&]+.*;\s*$")
SKIP = re.compile(r"^\s*(#|//|\*|/\*|return\b|case\b|default\b|break\b|using\b|typedef\b|"
                  r"namespace\b|template\b|struct\b|class\b|enum\b|static_assert\b|\}|\{)")


def code_part(line):
    """The line without a trailing // comment or string literals' insides (roughly)."""
    line = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    return line.split("//")[0]


# "const float x = ...;", "D3DXMATRIX m;": deleting a declaration only stops the build, and
# swapping two is no change at all.
DECLARATION = re.compile(r"^\s*(constexpr|const|static|auto|inline|extern)\b|"
                         r"^\s*[\w:<>]+[\s*&]+\w+\s*(=|;|\{|\[)")


def is_statement(code):
    """An assignment or a call on a line of its own."""
    return bool(STATEMENT.match(code)) and not SKIP.match(code) and \
        not DECLARATION.match(code) and (
            "=" in code or re.match(r"^\s*\w[\w:.\->]*\(.*\);\s*$", code) is not None)


def mutants(lines):
    """(index, replacement lines for index and maybe index+1, description) for one file."""
    found = []
    for i, line in enumerate(lines):
        code = code_part(line)
        if not code.strip() or re.match(r"^\s*(#|//|\*|/\*)", line):
            continue
        for old, new in SWAPS:
            for m in re.finditer(re.escape(old), code):
                mutated = line[:m.start()] + new + line[m.end():]
                found.append((i, [mutated], f"'{old.strip()}' -> '{new.strip()}'"))
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.])", code):
            value = int(m.group(1))
            mutated = line[:m.start()] + str(value + 1) + line[m.end():]
            found.append((i, [mutated], f"{value} -> {value + 1}"))
        m = re.search(r"\b(if|while)\s*\((.*)\)\s*(\{?)\s*$", code)
        if m and m.group(2).count("(") == m.group(2).count(")"):
            mutated = line[:m.start(2)] + "!(" + m.group(2) + ")" + line[m.end(2):]
            found.append((i, [mutated], f"{m.group(1)} condition negated"))
        m = re.search(r"\w+\(([^()]*,[^()]*)\)", code)
        if m:
            args = [a.strip() for a in m.group(1).split(",")]
            if len(args) >= 2 and args[-1] != args[-2]:
                args[-1], args[-2] = args[-2], args[-1]
                mutated = line[:m.start(1)] + ", ".join(args) + line[m.end(1):]
                found.append((i, [mutated], "last two operands swapped"))
        if is_statement(code):
            indent = line[:len(line) - len(line.lstrip())]
            found.append((i, [indent + ";"], "statement deleted"))
            following = lines[i + 1] if i + 1 < len(lines) else ""
            if following[:len(following) - len(following.lstrip())] == indent and \
                    is_statement(code_part(following)):
                found.append((i, [following, line], "swapped with the next statement"))
    return found


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **kwargs)


class Build:
    def __init__(self, folder):
        self.folder = folder
        if not (folder / "CMakeCache.txt").exists():
            run(["cmake", "-S", str(ROOT), "-B", str(folder), "-DFERROWALK_BENCH=OFF",
                 "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"], check=True)
        run(["cmake", f"--graphviz={folder / 'deps.dot'}", str(folder)], check=True)
        self.owner = {}  # source file -> target
        self.programs = {}  # test target -> its executable, which runs in its own folder
        for entry in json.loads((folder / "compile_commands.json").read_text()):
            m = re.search(r"-o (\S*?)CMakeFiles/([^/]+)\.dir/", entry["command"])
            if not m:
                continue
            binary = Path(entry["directory"], m.group(1)).resolve()
            self.owner[str(Path(entry["directory"], entry["file"]).resolve())] = m.group(2)
            if m.group(2).endswith("_tests") and "tests" in binary.relative_to(folder).parts:
                self.programs[m.group(2)] = binary / m.group(2)
        names, users = {}, defaultdict(set)
        for line in (folder / "deps.dot").read_text().splitlines():
            node = re.match(r'\s*"(node\d+)" \[ label = "([^"]+)"', line)
            if node:
                names[node.group(1)] = node.group(2)
            edge = re.match(r'\s*"(node\d+)" -> "(node\d+)"', line)
            if edge:
                users[edge.group(2)].add(edge.group(1))
        self.users = {names[k]: {names[u] for u in v} for k, v in users.items() if k in names}

    def tests_of(self, source):
        """The test programs that link the target owning source, directly or not."""
        target = self.owner.get(str(Path(source).resolve()))
        seen, todo = set(), [target] if target else []
        while todo:
            t = todo.pop()
            if t in seen:
                continue
            seen.add(t)
            todo.extend(self.users.get(t, ()))
        return sorted(t for t in seen if t in self.programs)

    def build(self, targets):
        return run(["cmake", "--build", str(self.folder), "-j2", "--target", *targets]).returncode == 0

    def passes(self, targets, timeout):
        env = dict(os.environ, SDL_VIDEODRIVER="offscreen", LP_NUM_THREADS="1")
        for target in targets:
            exe = self.programs[target]
            try:
                if run([str(exe), "--gtest_brief=1"], cwd=exe.parent, env=env,
                       timeout=timeout).returncode != 0:
                    return False
            except subprocess.TimeoutExpired:
                return False
        return True

    def killed(self, targets, timeout):
        """True when a test program fails; one is built and run at a time, so a mutant that
        the first program catches costs no link of the others. None: the mutant does not
        build."""
        for number, target in enumerate(targets):
            if not self.build([target]):
                return None if number == 0 else True
            if not self.passes([target], timeout):
                return True
        return False


def load_equivalents():
    """(file, change, original line) -> reason, from equivalent.txt beside this script."""
    known = {}
    path = Path(__file__).with_name("equivalent.txt")
    if not path.exists():
        return known
    for line in path.read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        # The original line may hold " | " itself; the reason never does.
        file, change, rest = line.split(" | ", 2)
        original, reason = rest.rsplit(" | ", 1)
        known[(file, change, original)] = reason
    return known


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="+", help="source files or folders")
    parser.add_argument("--build", default=str(ROOT / "build" / "mutate"), help="build folder")
    parser.add_argument("--per-file", type=int, default=0, help="at most N mutants a file")
    parser.add_argument("--seed", type=int, default=1, help="for the sample")
    args = parser.parse_args()

    files = []
    for path in map(Path, args.paths):
        files += sorted(path.rglob("*.cpp")) if path.is_dir() else [path]
    build = Build(Path(args.build).resolve())
    equivalents = load_equivalents()
    # folder -> mutants, killed, survived, equivalent, stillborn
    table = defaultdict(lambda: [0, 0, 0, 0, 0])
    current = {}  # the file being mutated and its original text, for restoring

    def restore(*_):
        if current:
            current["path"].write_text(current["text"])
        if _:
            sys.exit(130)
    signal.signal(signal.SIGINT, restore)
    signal.signal(signal.SIGTERM, restore)
    for source in files:
        # The folder's own test program first: it catches most mutants, the others then
        # need no build.
        targets = sorted(build.tests_of(source),
                         key=lambda t: not t.endswith(source.parent.name + "_tests"))
        if not targets:
            print(f"{source}: no test program links it; skipped")
            continue
        if not build.build(targets):
            sys.exit(f"the tests of {source} do not build as they are")
        start = time.monotonic()
        if not build.passes(targets, timeout=None):
            print(f"{source}: its tests fail as they are; skipped")
            continue
        timeout = max(60.0, 5 * (time.monotonic() - start))
        text = source.read_text()
        lines = text.split("\n")
        candidates = mutants(lines)
        random.Random(f"{args.seed}:{source}").shuffle(candidates)
        if args.per_file:
            candidates = candidates[:args.per_file]
        folder = str(source.parent)
        current.update(path=source, text=text)
        try:
            for index, replacement, change in sorted(candidates):
                mutated = lines[:index] + replacement + lines[index + len(replacement):]
                source.write_text("\n".join(mutated))
                row = table[folder]
                killed = build.killed(targets, timeout)
                if killed is None:
                    row[4] += 1
                    continue
                row[0] += 1
                original = lines[index].strip()
                name = str(source.resolve().relative_to(ROOT))
                reason = equivalents.get((name, change, original))
                if killed:
                    row[1] += 1
                elif reason:
                    row[3] += 1
                    print(f"{source}:{index + 1}: equivalent: {change}: {original} ({reason})",
                          flush=True)
                else:
                    row[2] += 1
                    print(f"{source}:{index + 1}: survived: {change}: {original}", flush=True)
        finally:
            source.write_text(text)
            current.clear()
        build.build(targets)
    print("\n| folder | mutants | killed | survived | equivalent | stillborn |\n"
          "|---|---|---|---|---|---|")
    for folder, (count, killed, survived, equivalent, stillborn) in sorted(table.items()):
        print(f"| {folder} | {count} | {killed} | {survived} | {equivalent} | {stillborn} |")


if __name__ == "__main__":
    main()
