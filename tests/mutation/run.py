#!/usr/bin/env python3
"""Mutation testing: puts plausible single-line faults into the production
code one at a time, rebuilds, runs the quick tests (ctest label "quick":
deterministic, no timing) and prints which faults the tests caught.

    tests/mutation/run.py [--build DIR] [WORD ...]
    tests/mutation/run.py --check


Each mutant in mutants.txt is three lines:

    @ path/to/file.cpp: what the fault is
    - the text as it stands (must occur exactly once in the file)
    + the text that replaces it

where \\n stands for a line break.

Only the named mutants run when WORDs are given (a WORD matches the path or
the description). The sources are restored after each mutant, also when the
script is interrupted. Exit status 0 when at least 90% of the mutants that
build are caught.
"""

import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TARGET = 0.90


def read_mutants(path):
    mutants, current = [], None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            tag, text = line[:2], line[2:]
            if tag == "@ ":
                file, _, what = text.partition(": ")
                current = {"file": file, "what": what, "line": number}
                mutants.append(current)
            elif tag == "- " and current is not None:
                current["from"] = text.replace("\\n", "\n")
            elif tag == "+ " and current is not None:
                current["to"] = text.replace("\\n", "\n")
            elif line == "+" and current is not None:
                current["to"] = ""
            else:
                sys.exit(f"mutants.txt:{number}: expected '@ ', '- ' or '+ '")
    for m in mutants:
        if "from" not in m or "to" not in m:
            sys.exit(f"mutants.txt:{m['line']}: a mutant needs a '- ' and a '+ ' line")
    return mutants


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def main():
    args = sys.argv[1:]
    build = os.path.join(ROOT, "build-mutation")
    check_only = args[:1] == ["--check"]
    if check_only:
        args = args[1:]
    if args[:1] == ["--build"]:
        build, args = os.path.abspath(args[1]), args[2:]
    mutants = read_mutants(os.path.join(ROOT, "tests", "mutation", "mutants.txt"))
    if args:
        mutants = [m for m in mutants if any(w in m["file"] or w in m["what"] for w in args)]

    for m in mutants:  # every mutant must still apply before any is run
        with open(os.path.join(ROOT, m["file"]), encoding="utf-8") as f:
            found = f.read().count(m["from"])
        if found != 1:
            sys.exit(f"mutants.txt:{m['line']}: the text occurs {found} times in {m['file']}")
    if check_only:
        print(f"{len(mutants)} mutants, each applies once")
        return 0

    configure = ["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DTILVEX_BENCH=OFF",
                 "-DTILVEX_STATIC_RUNTIME=OFF"]
    ctest = ["ctest", "--test-dir", build, "-L", "quick", "-j2", "--timeout", "120",
             "--stop-on-failure"]
    if run(configure).returncode != 0 or run(["cmake", "--build", build]).returncode != 0:
        sys.exit("mutation: the unmutated tree does not build")
    baseline = run(ctest)
    if baseline.returncode != 0:
        sys.exit("mutation: the quick tests fail without any mutant:\n" + baseline.stdout[-3000:])

    caught, survived, stillborn = [], [], []
    start = time.monotonic()
    for i, m in enumerate(mutants, 1):
        path = os.path.join(ROOT, m["file"])
        with open(path, encoding="utf-8") as f:
            original = f.read()
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(m["from"], m["to"], 1))
            if run(["cmake", "--build", build]).returncode != 0:
                outcome, group = "does not build", stillborn
            elif run(ctest).returncode != 0:
                outcome, group = "caught", caught
            else:
                outcome, group = "SURVIVED", survived
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        group.append(m)
        print(f"[{i:2}/{len(mutants)}] {outcome:14} {m['file']}: {m['what']}", flush=True)
    run(["cmake", "--build", build])  # back to the unmutated build

    counted = len(caught) + len(survived)
    score = len(caught) / counted if counted else 1.0
    print(f"\n{len(caught)} of {counted} mutants caught ({100 * score:.0f}%), "
          f"{len(stillborn)} did not build, in {time.monotonic() - start:.0f} s")
    for m in survived:
        print(f"  survived: mutants.txt:{m['line']} {m['file']}: {m['what']}")
    return 0 if score >= TARGET else 1


if __name__ == "__main__":
    sys.exit(main())
