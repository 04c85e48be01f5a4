#!/usr/bin/python3
"""Crash states of tilvex and tilvex-grid: what a kill or a power loss can
leave, and whether recovery turns every one of them into whole runs.

Scenarios (each with and without TILVEX_SYNC=1):
  single  one tilvex run appending to files that hold two earlier runs;
  grid    a tilvex-grid over a few points, with --table and --jobs 2.
Each recorded run's crash states (see crashstates.py) are checked both ways
a user goes on: `tilvex-grid --recover out.txt out2.txt`, then the files are
read, then one more tilvex run (single) or a `--resume` of the grid (grid);
and, from the same state again, straight to that next run or `--resume`
(which recover as they take their locks; the man page tells a user of a
killed grid to do just that).
Then the recovery itself is recorded from a few states where it has work to
do, and its own crash states are checked the same way (a second crash).

Invariants, after recovery:
  - each result file holds its old bytes, then whole runs only: no NUL byte,
    no cut line, every summary line paired with its run's accepted lines
    (which carry the run's grid indices), so a run is in both files or in
    neither;
  - with TILVEX_SYNC=1, in a state at or after the run's last sync barrier,
    the run (all of the grid's points) is there;
  - grid: the points in the files are the first points of the list, and the
    record and the table agree with them; the table, if there, is whole;
  - the next step works: the next tilvex run appends whole after the others;
    the grid's --resume ends with the bytes of one clean run.

Exit status: 0 when no prefix state is broken (either setting) and no
power-loss state is broken under TILVEX_SYNC=1; 1 otherwise; 2 when the
tool itself cannot run. Power-loss states without TILVEX_SYNC are reported
only: the default promises that a killed process loses nothing, not that a
power loss does.
"""

import argparse
import concurrent.futures
import difflib
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crashstates as cs  # noqa: E402

RESULTS = ("out.txt", "out2.txt")
CATEGORIES = ("prefix", "weak", "recovery prefix", "recovery weak")


class Broken(Exception):
    def __init__(self, invariant, detail=""):
        super().__init__(invariant)
        self.invariant = invariant
        self.detail = detail


def run(argv, cwd, env):
    p = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return p.returncode, p.stdout, p.stderr


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def short_diff(name, expected, actual, limit=8):
    e = (expected or b"").decode("latin-1").splitlines(True)
    a = (actual or b"").decode("latin-1").splitlines(True)
    out = []
    for line in difflib.unified_diff(e, a, "expected " + name, "found " + name, n=0):
        line = line.rstrip("\n").replace("\0", "\\0")
        out.append("    " + (line if len(line) <= 110 else line[:100] + "... (%d chars)" % len(line)))
        if len(out) >= limit:
            out.append("    ...")
            break
    return "\n".join(out)


class Scenario:
    """What both scenarios share: inputs, two earlier runs, the checks on
    the result files."""

    def __init__(self, build, work, env):
        self.tilvex = os.path.join(build, "tilvex")
        self.grid = os.path.join(build, "tilvex-grid")
        self.generate = os.path.join(build, "tilvex-generate")
        self.work, self.env = work, env
        self.inputs = os.path.join(work, "inputs")
        os.makedirs(self.inputs)
        self.runs = {}
        init = os.path.join(work, "initial")
        os.mkdir(init)
        for name, seed, level, idx in (("old1", 13, "90", "9 9 9 9"), ("old2", 14, "95", "8 8 8 8")):
            self._run_into(init, self._input(name, 30, seed), level, idx)
        self.initial = init
        self.old = {f: read(os.path.join(init, f)) for f in RESULTS}

    def _input(self, name, n, seed):
        path = os.path.join(self.inputs, name + ".vrin")
        with open(path, "wb") as f:
            subprocess.run([self.generate, str(n), str(seed)], stdout=f, check=True)
        return path

    def _run_into(self, d, vrin, level, idx):
        st, out, err = run([self.tilvex, vrin, "out.txt", level, "out2.txt"] + idx.split(), d, self.env)
        if st != 0:
            raise RuntimeError("tilvex failed while setting up: %s" % err.decode(errors="replace"))

    def reference(self, name, vrin, level, idx):
        """The bytes one run appends to each file, alone."""
        d = tempfile.mkdtemp(dir=self.work)
        self._run_into(d, vrin, level, idx)
        self.runs[name] = (read(os.path.join(d, "out.txt")), read(os.path.join(d, "out2.txt")))
        shutil.rmtree(d)

    def recovered(self, scratch):
        """The files a user names to --recover."""
        return list(RESULTS)

    def check(self, r, fs, must):
        """Both ways a user goes on after a crash: --recover first, or
        straight to the next run (which recovers as it takes its locks)."""
        r.materialize(fs)
        self.check_recovered(r.scratch, must)
        r.materialize(fs)
        try:
            self.check_straight(r.scratch, must)
        except Broken as b:
            raise Broken("without --recover: " + b.invariant, b.detail)

    def recover(self, scratch):
        st, out, err = run([self.grid, "--recover"] + self.recovered(scratch), scratch, self.env)
        if st != 0:
            raise Broken("recovery fails", "    status %d: %s" % (st, err.decode(errors="replace").strip()))

    def whole_runs(self, scratch):
        """The names of the runs appended after the old bytes, in order."""
        files = {f: read(os.path.join(scratch, f)) for f in RESULTS}
        for f in RESULTS:
            data = files[f] if files[f] is not None else b""
            if not data.startswith(self.old[f]):
                raise Broken("old bytes lost in " + f, short_diff(f, self.old[f], data[:len(self.old[f])]))
            if b"\0" in data:
                at = data.index(b"\0")
                raise Broken("NUL bytes in " + f, "    first NUL at byte %d of %d" % (at, len(data)))
            if data and not data.endswith(b"\n"):
                last = data.rsplit(b"\n", 1)[-1]
                raise Broken("a cut line in " + f, "    last line, cut: %r" % last[:100])
            files[f] = data[len(self.old[f]):]
        summaries = files["out.txt"].splitlines(True)
        rest = files["out2.txt"]
        seq = []
        for s in summaries:
            match = [n for n, (a, b) in self.runs.items() if a == s and rest.startswith(b)]
            if not match:
                mine = [n for n, (a, b) in self.runs.items() if a == s]
                if mine:
                    raise Broken("run %s in out.txt without its accepted lines in out2.txt" % mine[0],
                                 short_diff("out2.txt (after the old bytes)", b"".join(self.runs[n][1] for n in seq + mine[:1]),
                                            files["out2.txt"]))
                raise Broken("a summary line of no run in out.txt", "    %r" % s[:100])
            seq.append(match[0])
            rest = rest[len(self.runs[match[0]][1]):]
        if rest:
            whose = [n for n, (a, b) in self.runs.items() if rest.startswith(b)]
            raise Broken("accepted lines without a summary in out2.txt" +
                         (" (run %s)" % whose[0] if whose else ""),
                         "    %d bytes after the whole runs %s, from %r" % (len(rest), seq, rest[:60]))
        return seq


class Single(Scenario):
    name = "single"

    def __init__(self, build, work, env, quick):
        super().__init__(build, work, env)
        self.vrin = self._input("in", 40, 11)
        self.next_vrin = self._input("next", 40, 12)
        self.reference("recorded", self.vrin, "95", "1 2 3 4")
        self.reference("next", self.next_vrin, "95", "5 6 7 8")

    def argv(self):
        return [self.tilvex, self.vrin, "out.txt", "95", "out2.txt", "1", "2", "3", "4"]

    def next_run(self, scratch):
        st, out, err = run([self.tilvex, self.next_vrin, "out.txt", "95", "out2.txt", "5", "6", "7", "8"],
                           scratch, self.env)
        if st != 0:
            raise Broken("the next run fails", "    status %d: %s" % (st, err.decode(errors="replace").strip()))

    def check_straight(self, scratch, must):
        self.next_run(scratch)
        seq = self.whole_runs(scratch)
        if seq not in (["next"], ["recorded", "next"]):
            raise Broken("the next run does not append whole after the others", "    runs %s" % seq)
        if must and seq != ["recorded", "next"]:
            raise Broken("the run is lost although it exited 0 with TILVEX_SYNC=1 and the state is past its last sync")

    def check_recovered(self, scratch, must):
        self.recover(scratch)
        seq = self.whole_runs(scratch)
        if seq not in ([], ["recorded"]):
            raise Broken("runs that were not made: %s" % seq)
        if must and seq != ["recorded"]:
            raise Broken("the run is lost although it exited 0 with TILVEX_SYNC=1 and the state is past its last sync")
        self.next_run(scratch)
        after = self.whole_runs(scratch)
        if after != seq + ["next"]:
            raise Broken("the next run does not append whole after the others", "    runs %s, then %s" % (seq, after))


class Grid(Scenario):
    name = "grid"

    def __init__(self, build, work, env, quick):
        super().__init__(build, work, env)
        self.points = []
        lines = []
        for i in range(1, (3 if quick else 4) + 1):
            vrin = self._input("p%d" % i, 30, 20 + i)
            idx = "%d %d 0 0" % (i, 10 + i)
            self.reference("p%d" % i, vrin, "95", idx)
            self.points.append("p%d" % i)
            lines.append("%s %s\n" % (vrin, idx))
        self.list = os.path.join(self.inputs, "list.txt")
        with open(self.list, "w") as f:
            f.writelines(lines)
        clean = os.path.join(work, "clean")
        shutil.copytree(self.initial, clean)
        st, out, err = run(self.argv(), clean, env)
        if st != 0:
            raise RuntimeError("the clean grid failed: %s" % err.decode(errors="replace"))
        self.clean = {f: read(os.path.join(clean, f)) for f in self.outputs()}
        rec = self.clean["out.txt.tilvex-grid"].splitlines(True)
        self.header, self.rows = rec[0], rec[1:-1]
        if rec[-1] != b"complete\n" or len(self.rows) != len(self.points):
            raise RuntimeError("the clean grid's record is not what this tool expects")

    @staticmethod
    def outputs():
        return RESULTS + ("t.tsv", "out.txt.tilvex-grid")

    def argv(self, resume=False):
        return [self.grid, self.list, "out.txt", "95", "out2.txt", "--table", "t.tsv", "--jobs", "2",
                "--quiet"] + (["--resume"] if resume else [])

    def check_record(self, rec, n):
        """True if the record is complete; Broken unless it agrees with the
        n points in the files."""
        complete = False
        if not rec:
            if n:
                raise Broken("points in the files but no record", "    %d points in the files, record %s" %
                             (n, "missing" if rec is None else "empty"))
        else:
            lines = rec.splitlines(True)
            if not rec.endswith(b"\n"):
                raise Broken("a cut line in the record", "    %r" % lines[-1][:100])
            if lines[0] != self.header:
                what = "a record without its header" if lines[0] in self.rows else "a record with a wrong header"
                raise Broken(what, short_diff("out.txt.tilvex-grid", self.header + b"".join(self.rows[:n]), rec))
            rows = lines[1:]
            if rows and rows[-1] == b"complete\n":
                complete, rows = True, rows[:-1]
            if rows != self.rows[:len(rows)] or len(rows) != n:
                raise Broken("the record and the files disagree on the points that are in",
                             "    files: %d points; record:\n%s" %
                             (n, short_diff("out.txt.tilvex-grid", self.header + b"".join(self.rows[:n]), rec)))
            if complete and n != len(self.points):
                raise Broken("a complete record with points missing", "    %d of %d" % (n, len(self.points)))
        return complete

    def check_straight(self, scratch, must):
        self.resume(scratch, None)

    def resume(self, scratch, n):
        """--resume (or, with no record and no point in the files, a run
        that starts over, as the grid then tells the user) must end with
        the bytes of one clean run."""
        st, out, err = run(self.argv(resume=True), scratch, self.env)
        if st == 2 and b"no record" in err and not n:
            st, out, err = run(self.argv(), scratch, self.env)
        if st != 0:
            raise Broken("--resume fails", "    status %d: %s" % (st, err.decode(errors="replace").strip()))
        for f in self.outputs():
            got = read(os.path.join(scratch, f))
            if got != self.clean[f]:
                raise Broken("--resume does not end with the bytes of one clean run (%s)" % f,
                             short_diff(f, self.clean[f], got))

    def check_recovered(self, scratch, must):
        self.recover(scratch)
        seq = self.whole_runs(scratch)
        n = len(seq)
        if seq != self.points[:n]:
            raise Broken("points not the first of the list, in order", "    %s" % seq)
        rec = read(os.path.join(scratch, "out.txt.tilvex-grid"))
        complete = False
        # A hot journal of the record alone is an append of its header or of
        # "complete" that did not finish; --resume recovers it (it locks the
        # record), so the record is judged after the resume only.
        record_pending = os.path.exists(os.path.join(scratch, ".out.txt.tilvex-grid.tilvex-journal"))
        if not record_pending:
            complete = self.check_record(rec, n)
        table = read(os.path.join(scratch, "t.tsv"))
        if table is not None:
            if table != self.clean["t.tsv"]:
                raise Broken("a table that is not whole", short_diff("t.tsv", self.clean["t.tsv"], table))
            if n != len(self.points):
                raise Broken("a table with points missing from the files", "    %d of %d" % (n, len(self.points)))
        if must and (n != len(self.points) or table is None or not (complete or record_pending)):
            raise Broken("the grid is not all there although it exited 0 with TILVEX_SYNC=1 and the state is "
                         "past its last sync", "    points %d of %d, table %s, record %s" %
                         (n, len(self.points), "there" if table is not None else "missing",
                          "complete" if complete else "not complete"))
        self.resume(scratch, n)


SCENARIOS = {"single": Single, "grid": Grid}


def explore(build, base, scenario, sync, quick, limit, recoveries, show_ops):
    """Explores one scenario under one setting; returns the counts and the
    broken states."""
    t0 = time.time()
    env = dict(os.environ)
    env.pop("TILVEX_SYNC", None)
    if sync:
        env["TILVEX_SYNC"] = "1"
    setting = "sync" if sync else "default"
    work = os.path.join(base, "%s-%s" % (scenario, setting))
    os.makedirs(work)
    sc = SCENARIOS[scenario](build, work, env, quick)
    scratch = os.path.join(work, "scratch")
    shutil.copytree(sc.initial, scratch)
    rec = cs.Recording(scratch, sc.argv(), env).record()
    if rec.status != 0:
        raise RuntimeError("the recorded %s run failed: %s" % (scenario, rec.stderr.decode(errors="replace")))
    counts = {c: [0, 0] for c in CATEGORIES}
    broken, notes = [], []
    cache = {}
    if show_ops:
        notes.append("%s %s: %d operations (numbered from 0)\n" % (scenario, setting, len(rec.ops)) +
                     "".join("    %3d %s\n" % (i, op) for i, op in enumerate(rec.ops)))

    def check(r, fs, must, category, where):
        key = (fs.digest(), must)
        seen = counts.setdefault(category + " seen", set())
        if key in seen:
            return
        seen.add(key)
        counts[category][0] += 1
        if key not in cache:
            try:
                sc.check(r, fs, must)
                cache[key] = None
            except Broken as b:
                cache[key] = (b.invariant, b.detail)
        if cache[key]:
            counts[category][1] += 1
            broken.append((scenario, setting, category, where, cache[key][0], cache[key][1]))

    def explore_recording(r, prefix_cat, weak_cat, must_of, label):
        last = r.barriers()[-1] if r.barriers() else None
        for k, fs in r.prefix_states():
            check(r, fs, must_of(k, last), prefix_cat,
                  "%skilled after %d of %d operations%s" % (label, k, len(r.ops),
                                                           " (last: %s)" % r.ops[k - 1] if k else ""))
        for k in r.crash_points():
            what = "before op %d (%s)" % (k, r.ops[k]) if k < len(r.ops) else "at the end"
            for desc, fs in r.weak_states(k, limit):
                check(r, fs, must_of(k, last), weak_cat, "%spower lost %s: %s" % (label, what, desc))

    def must_top(k, last):
        return bool(sync and last is not None and k > last)

    explore_recording(rec, "prefix", "weak", must_top, "")

    # A second crash, during recovery: record the recovery from states where
    # it has files to cut back, and explore its own crash states.
    shapes, picked = set(), 0
    last = rec.barriers()[-1] if rec.barriers() else None
    for k, fs in reversed(list(rec.prefix_states())):
        if picked >= recoveries:
            break
        rec.materialize(fs)
        rr = cs.Recording(rec.scratch, [sc.grid, "--recover"] + sc.recovered(rec.scratch), env,
                          vault=os.path.join(work, "recovery-vault")).record()
        shape = tuple((op.kind, op.label or op.name) for op in rr.ops)
        if not any(op.kind == "trunc" for op in rr.ops) or shape in shapes:
            rr.give_back(rec)
            continue
        shapes.add(shape)
        picked += 1
        if show_ops:
            notes.append("%s %s: recovery from the state killed after %d operations: %d operations\n" %
                         (scenario, setting, k, len(rr.ops)) +
                         "".join("    %3d %s\n" % (i, op) for i, op in enumerate(rr.ops)))
        must = must_top(k, last)
        explore_recording(rr, "recovery prefix", "recovery weak", lambda kk, ll: must,
                          "from the state killed after %d operations, recovery " % k)
        rr.give_back(rec)
    counts = {c: counts[c] for c in CATEGORIES}
    return {"scenario": scenario, "setting": setting, "counts": counts, "broken": broken,
            "notes": notes, "ops": len(rec.ops), "seconds": time.time() - t0, "picked": picked}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../build"),
                    help="the build directory holding tilvex, tilvex-grid and tilvex-generate")
    ap.add_argument("--quick", action="store_true", help="a smaller subset: fewer points and states")
    ap.add_argument("--scenario", choices=("single", "grid", "all"), default="all")
    ap.add_argument("--sync", choices=("0", "1", "both"), default="both")
    ap.add_argument("--limit", type=int, help="power-loss states per crash point (default 128, quick 16)")
    ap.add_argument("--recoveries", type=int, help="recovery runs recorded per scenario (default 3, quick 1)")
    ap.add_argument("--examples", type=int, default=2, help="broken states printed per kind (default 2)")
    ap.add_argument("--report", help="write every broken state to this file")
    ap.add_argument("--show-ops", action="store_true", help="print the recorded operations")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--keep", action="store_true", help="keep the scratch directories")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    for prog in ("tilvex", "tilvex-grid", "tilvex-generate"):
        if not os.access(os.path.join(build, prog), os.X_OK):
            print("crash-states: %s not built in %s" % (prog, build), file=sys.stderr)
            return 2
    if not shutil.which("strace"):
        print("crash-states: strace is missing (Debian package strace)", file=sys.stderr)
        return 2
    limit = a.limit or (16 if a.quick else 128)
    recoveries = a.recoveries if a.recoveries is not None else (1 if a.quick else 3)
    base = tempfile.mkdtemp(prefix="tilvex-crash-states-")
    jobs = [(s, y) for s in (("single", "grid") if a.scenario == "all" else (a.scenario,))
            for y in ((False, True) if a.sync == "both" else (a.sync == "1",))]
    results = []
    try:
        with concurrent.futures.ProcessPoolExecutor(max_workers=a.jobs) as ex:
            # The longest (the grid with its syncs) first; the table keeps the order above.
            futs = {j: ex.submit(explore, build, base, j[0], j[1], a.quick, limit, recoveries, a.show_ops)
                    for j in sorted(jobs, key=lambda j: (j[0] != "grid", not j[1]))}
            for j in jobs:
                results.append(futs[j].result())
    except (cs.TraceError, RuntimeError, OSError, subprocess.SubprocessError) as e:
        print("crash-states: %s" % e, file=sys.stderr)
        return 2
    finally:
        if a.keep:
            print("crash-states: scratch directories kept in %s" % base, file=sys.stderr)
        else:
            shutil.rmtree(base, ignore_errors=True)

    failing = False
    report = []
    shown = {True: [], False: []}
    for r in results:
        for n in r["notes"]:
            print(n, end="")
        kinds = {}
        for (scn, setting, cat, where, inv, detail) in r["broken"]:
            counted = cat.endswith("prefix") or setting == "sync"
            failing |= counted
            text = "BROKEN %s %s %s%s: %s\n  invariant: %s\n%s" % (
                scn, setting, cat, "" if counted else " (reported, not failed)", where, inv,
                detail + "\n" if detail else "")
            report.append(text)
            kinds.setdefault((counted, cat, inv), []).append(text)
        for (counted, cat, inv), texts in kinds.items():
            out = shown[counted]
            out.extend(texts[:a.examples])
            if len(texts) > a.examples:
                out.append("  ... and %d more %s states of %s %s broken this way: %s\n\n" %
                           (len(texts) - a.examples, cat, r["scenario"], r["setting"], inv))
    # What fails the run first, then what is only reported.
    for t in shown[True] + shown[False]:
        print(t, end="")
    if a.report:
        with open(a.report, "w") as f:
            f.writelines(report)
    print("%-8s %-8s %5s | %-16s | %-16s | %-16s | %-16s | %s" %
          ("scenario", "setting", "ops", "prefix", "weak", "recovery prefix", "recovery weak", "time"))
    print("%-8s %-8s %5s | %-16s | %-16s | %-16s | %-16s |" % ("", "", "", *(["states  broken"] * 4)))
    for r in results:
        c = r["counts"]
        print("%-8s %-8s %5d | %s | %s | %s | %s | %.0f s" % (
            r["scenario"], r["setting"], r["ops"],
            *("%6d  %6d  " % tuple(c[k]) for k in CATEGORIES), r["seconds"]))
    print("crash-states: %s (prefix states must never break; power-loss states must not break under "
          "TILVEX_SYNC=1)" % ("FAILED" if failing else "passed"))
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main())
