"""The Python package against the program: the same bytes, bit for bit.

Run by `make python-test` (pytest, with the built programs named by the
environment: TILVEX_BINARY, TILVEX_GRID, TILVEX_GENERATE, TILVEX_SOURCE)."""

import errno
import os
import pickle
import re
import struct
import subprocess
import sys
import warnings
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np
import pytest

import tilvex

SOURCE = Path(os.environ["TILVEX_SOURCE"])
BINARY = os.environ["TILVEX_BINARY"]
GRID = os.environ["TILVEX_GRID"]
GENERATE = os.environ["TILVEX_GENERATE"]
LEVELS = ["95", "68.3", "50", "100", "0.5"]


def program(path, level, tmp, grid=("1", "2", "3", "4")):
    """What the program appends and prints for one run into fresh files."""
    out, out2 = tmp / "out.txt", tmp / "out2.txt"
    for f in (out, out2):
        f.unlink(missing_ok=True)
    done = subprocess.run([BINARY, str(path), str(out), level, str(out2), *grid],
                          capture_output=True, text=True)
    read = lambda f: f.read_text() if f.exists() else ""
    return done.returncode, done.stdout, read(out), read(out2)


def inputs(tmp):
    files = sorted((SOURCE / "tests" / "data").glob("*.vrin")) + sorted((SOURCE / "examples").glob("*.vrin"))
    for n, seed in (("3000", "11"), ("1500", "12")):
        path = tmp / f"generated-{seed}.vrin"
        path.write_bytes(subprocess.run([GENERATE, n, seed], capture_output=True, check=True).stdout)
        files.append(path)
    empty = tmp / "empty.vrin"
    empty.write_text("")
    junk = tmp / "junk.vrin"
    junk.write_text("phi= 0.50 0.40\n")
    return files + [empty, junk, tmp / "missing.vrin"]


def test_files_give_the_programs_bytes(tmp_path):
    for path in inputs(tmp_path):
        for level in LEVELS:
            status, printed, summary, lines = program(path, level, tmp_path)
            if status != 0:
                with pytest.raises(tilvex.TilvexError) as refused:
                    tilvex.analyse_file(path, float(level))
                assert printed == refused.value.message + "\n"
                continue
            r = tilvex.analyse_file(path, float(level))
            assert tilvex.format_summary(r) == summary, (path, level)
            assert tilvex.format_accepted(r, (1, 2, 3, 4)) == lines, (path, level)
            assert len(r.accepted) == r.solutions.shape[0] == lines.count("\n")
            b = tilvex.analyse_bytes(path.read_bytes(), float(level))
            assert tilvex.format_summary(b) == summary


def records(rng, n):
    """Random float32 records: tensors, phi, angles, with zeros and extremes."""
    r = rng.standard_normal((n, 13)).astype(np.float32)
    r[:, 7:] = rng.uniform(-400, 800, (n, 6)).astype(np.float32)
    r[rng.random((n, 13)) < 0.02] = np.float32(0.0)
    r[rng.random((n, 13)) < 0.01] = np.float32(-0.0)
    return r


def text_of(rows):
    return "".join(" ".join(f"{v:.9g}" for v in row[:6]) + "\n" + " ".join(f"{v:.9g}" for v in row[6:]) + "\n"
                   for row in rows.astype(np.float64))


def test_records_equal_the_file_they_print_to():
    rng = np.random.default_rng(5)
    for round in range(40):
        rows = records(rng, 1 + int(rng.integers(0, 300)))
        level = float(rng.choice([95.0, 68.3, 50.0, 100.0, 10.0]))
        held = tilvex.analyse(rows[0], rows[1:], level)
        read = tilvex.analyse_bytes(text_of(rows).encode(), level)
        assert held.count == read.count == len(rows) - 1
        assert struct.pack("f", held.threshold) == struct.pack("f", read.threshold) or (
            np.isnan(held.threshold) and np.isnan(read.threshold))
        assert np.array_equal(held.accepted, read.accepted)
        assert held.solutions.tobytes() == read.solutions.tobytes()
        assert tilvex.format_summary(held) == tilvex.format_summary(read)
        assert tilvex.format_accepted(held, (0, 0, 0, 0)) == tilvex.format_accepted(read, (0, 0, 0, 0))


def test_float64_is_rounded_to_the_nearest_float32_and_shapes_are_checked():
    rng = np.random.default_rng(6)
    rows = rng.standard_normal((200, 13)) * 100
    assert tilvex.format_summary(tilvex.analyse(rows[0], rows[1:], 95)) == \
        tilvex.format_summary(tilvex.analyse(rows[0].astype(np.float32), rows[1:].astype(np.float32), 95))
    with pytest.raises(ValueError, match=r"resamples must have shape \(n, 13\), not \(4, 12\)"):
        tilvex.analyse(rows[0], rows[1:5, :12], 95)
    with pytest.raises(ValueError, match=r"best must have shape \(13,\), not \(12,\)"):
        tilvex.analyse(rows[0, :12], rows[1:], 95)
    assert tilvex.analyse(rows[0], np.empty((0, 13)), 95).count == 0


def test_a_thread_pool_gives_what_one_thread_gives():
    rng = np.random.default_rng(7)
    points = [records(rng, 5000) for _ in range(16)]
    one = [tilvex.format_summary(tilvex.analyse(p[0], p[1:], 95)) for p in points]
    with ThreadPoolExecutor(2) as pool:
        two = list(pool.map(lambda p: tilvex.format_summary(tilvex.analyse(p[0], p[1:], 95)), points))
    assert one == two


def test_a_level_that_is_not_a_number_is_refused_as_the_program_refuses_it(tmp_path):
    """Regression: a NaN or None level was taken as 100 per cent."""
    worked = SOURCE / "examples" / "worked.vrin"
    rows = records(np.random.default_rng(8), 20)
    for level in ("nan", "-nan", "NaN"):
        done = subprocess.run([BINARY, str(worked), str(tmp_path / "o"), level, str(tmp_path / "o2"), "1", "2", "3",
                               "4"], capture_output=True, text=True)
        assert done.returncode != 0 and done.stderr.startswith("tilvex: ")
        usage, reason = done.stdout, done.stderr[len("tilvex: "):]
        assert reason == f"confidence_level '{level}' is not a number\n"
        for value in (level, float(level), np.float32(level), np.float64(level)):
            calls = [lambda: tilvex.analyse(rows[0], rows[1:], value),
                     lambda: tilvex.analyse_file(worked, value),
                     lambda: tilvex.analyse_bytes(worked.read_bytes(), value),
                     lambda: tilvex._tilvex._analyse_records(rows[0], rows[1:], float(value)),
                     lambda: tilvex._tilvex._analyse_file(str(worked), float(value)),
                     lambda: tilvex._tilvex._analyse_bytes(worked.read_bytes(), float(value), "w")]
            for k, call in enumerate(calls):
                with pytest.raises(tilvex.TilvexError) as refused:
                    call()
                assert refused.value.message + "\n" == usage, (value, k)
                text = str(value) if k < 3 else "nan"  # the private entries have no text of the level
                assert refused.value.reason == f"confidence_level '{text}' is not a number", (value, k)
    for value, text in ((None, "None"), ("ninety", "ninety")):
        for call in (lambda: tilvex.analyse(rows[0], rows[1:], value), lambda: tilvex.analyse_file(worked, value),
                     lambda: tilvex.analyse_bytes(worked.read_bytes(), value)):
            with pytest.raises(tilvex.TilvexError, match=f"confidence_level '{text}' is not a number"):
                call()
    # The input is refused first, as by the program; infinity is a level.
    with pytest.raises(tilvex.TilvexError, match="unable to open"):
        tilvex.analyse_file(tmp_path / "missing.vrin", float("nan"))
    # So is an input that is empty, or not a resample results file, with a
    # NaN level: the input's refusal, not the usage.
    empty, junk = tmp_path / "empty.vrin", tmp_path / "junk.vrin"
    empty.write_text("")
    junk.write_text("phi= 0.50 0.40\n")
    for path, reason in ((empty, f"'{empty}' is empty"), (junk, f"'{junk}' is not a resample results file: ")):
        for call in (lambda: tilvex.analyse_file(path, float("nan")),
                     lambda: tilvex._tilvex._analyse_file(str(path), float("nan")),
                     lambda: tilvex.analyse_bytes(path.read_bytes(), float("nan"), str(path))):
            with pytest.raises(tilvex.TilvexError) as refused:
                call()
            assert refused.value.message == f"unable to read {path}", path
            assert refused.value.reason.startswith(reason) and (path == junk or refused.value.reason == reason), \
                refused.value.reason
    assert tilvex.format_summary(tilvex.analyse_file(worked, float("inf"))) == \
        tilvex.format_summary(tilvex.analyse_file(worked, 100))


def test_the_record_entry_checks_every_shape():
    """Regression: arrays too short for their records were read past their end."""
    good_best, good_resamples = np.zeros(13, np.float32), np.zeros((3, 13), np.float32)
    best = "best must have shape (13,), not "
    resamples = "resamples must have shape (n, 13), not "
    cases = [((12,), None, best + "(12,)"), ((14,), None, best + "(14,)"), ((), None, best + "()"),
             ((1, 13), None, best + "(1, 13)"), ((13, 1), None, best + "(13, 1)"), ((0,), None, best + "(0,)"),
             (None, (4, 12), resamples + "(4, 12)"), (None, (4, 14), resamples + "(4, 14)"),
             (None, (52,), resamples + "(52,)"), (None, (0,), resamples + "(0,)"), (None, (), resamples + "()"),
             (None, (2, 13, 1), resamples + "(2, 13, 1)"), (None, (13, 0), resamples + "(13, 0)")]
    for b, r, message in cases:
        b = good_best if b is None else np.ones(b, np.float32)
        r = good_resamples if r is None else np.ones(r, np.float32)
        with pytest.raises(ValueError, match=re.escape(message) + "$"):
            tilvex._tilvex._analyse_records(b, r, 95.0)
    assert tilvex._tilvex._analyse_records(good_best, np.zeros((0, 13), np.float32), 95.0).count == 0


def run_grid(tmp):
    files = [p for p in inputs(tmp) if p.name != "junk.vrin"]
    grid = tmp / "grid.txt"
    grid.write_text("".join(f"{p} {i} {i % 3} 0 1\n" for i, p in enumerate(files)))
    subprocess.run([GRID, str(grid), str(tmp / "s.txt"), "95", str(tmp / "a.txt"), "--table",
                    str(tmp / "t.tsv"), "--quiet"], capture_output=True)
    return files


def test_read_table_and_read_accepted(tmp_path, monkeypatch):
    files = run_grid(tmp_path)
    table = tilvex.read_table(tmp_path / "t.tsv")
    assert len(table) == len(files)
    assert table.dtype["phi_low"] == np.float32 and table.dtype["xgrid"] == np.int32
    for row, path in zip(table, files):
        assert row["input"] == str(path)
        if row["status"] != "ok":
            assert row["status"].startswith("unable to ") and np.isnan(row["phi"])
            continue
        r = tilvex.analyse_file(path, 95)
        assert row["n"] == r.count and row["accepted"] == len(r.accepted)
        for name, (best, low, high) in r.bounds.items():
            assert struct.pack("fff", row[name], row[name + "_low"], row[name + "_high"]) == \
                struct.pack("fff", best, low, high)
    frame = tilvex.read_table(tmp_path / "t.tsv", pandas=True)
    assert list(frame.columns)[:6] == ["input", "xgrid", "ygrid", "zgrid", "tgrid", "status"]
    assert frame["tr1_high"].dtype == np.float32 and len(frame) == len(files)
    monkeypatch.setitem(sys.modules, "pandas", None)  # as where pandas is missing
    with pytest.raises(ImportError, match="needs pandas"):
        tilvex.read_table(tmp_path / "t.tsv", pandas=True)

    accepted = tilvex.read_accepted(tmp_path / "a.txt")
    first = tilvex.analyse_file(files[0], 95)
    block = accepted[(accepted["xgrid"] == 0) & (accepted["tgrid"] == 1)]
    assert len(block) == len(first.accepted)
    assert np.allclose(np.stack([block[n] for n in ("phi", "tr1", "pl1", "tr2", "pl2", "tr3", "pl3")], 1),
                       first.solutions, atol=6e-7 * 1000)


def test_read_accepted_names_the_field_that_does_not_read(tmp_path):
    """Fields 1 to 4 are the grid's ints, 5 to 11 numbers."""
    good = ["3", "7", "0", "1", "0.45", "0", "12", "125", "3", "250", "80"]
    for k in range(11):
        fields = list(good)
        fields[k] = "x" + fields[k]
        path = tmp_path / f"a{k}.txt"
        path.write_text(" ".join(good) + "\n" + " ".join(fields) + "\n")
        kind = "not an int" if k < 4 else "not a number"
        with pytest.raises(ValueError, match=re.escape(f"{path}:2: {kind}: {fields[k]}") + "$"):
            tilvex.read_accepted(path)


def test_read_table_takes_memory_in_proportion_to_the_file(tmp_path):
    """Regression: a 1 MB table with one 100 kB name became an array of
    gigabytes, every row as wide as the longest name."""
    header = "\t".join(["input", "xgrid", "ygrid", "zgrid", "tgrid", "status", "n", "accepted", *tilvex.VALUE_COLUMNS])
    values = "\t".join(f"{v:g}" for v in range(22))
    long_name = "n" * 100_000
    rows = [f"{long_name}\t0\t0\t0\t0\tok\t100\t95\t{values}"]
    rows += [f"p{i}.vrin\t{i}\t-{i}\t0\t1\tunable to open p{i}.vrin\tnan\tnan" + "\tnan" * 22 for i in range(1, 6000)]
    path = tmp_path / "t.tsv"
    path.write_text(header + "\n" + "\n".join(rows) + "\n")
    size = path.stat().st_size
    assert size > 900_000
    table = tilvex.read_table(path)
    held = table.nbytes + sum(sys.getsizeof(v) for name in ("input", "status") for v in table[name])
    assert held < 3 * size, (held, size)
    assert len(table) == 6000 and table["input"][0] == long_name and table["input"][5999] == "p5999.vrin"
    assert table["status"][0] == "ok" and table["status"][1] == "unable to open p1.vrin"
    assert [table.dtype[g] for g in ("xgrid", "ygrid", "zgrid", "tgrid", "n", "accepted", *tilvex.VALUE_COLUMNS)] == \
        [np.dtype(np.int32)] * 4 + [np.dtype(np.float64)] * 2 + [np.dtype(np.float32)] * 22
    assert table["ygrid"][5999] == -5999 and table["tgrid"][1] == 1 and np.isnan(table["n"][1])
    assert table[0]["pl3_high"] == 21 and table[0]["threshold"] == 0 and table[0]["accepted"] == 95
    frame = tilvex.read_table(path, pandas=True)
    assert frame["input"][0] == long_name and frame["xgrid"].dtype == np.int32 and frame["pl3"].dtype == np.float32


def fnv1a(data):
    h = 0xcbf29ce484222325
    for c in data:
        h = ((h ^ c) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def test_readers_take_only_the_committed_part(tmp_path):
    """An append that died leaves a hot journal: readers stop at its length."""
    out2 = tmp_path / "out2.txt"
    whole = "3 7 0 1 0.450000 0.000000 12.000000 125.000000 3.000000 250.000000 80.000000\n"
    out2.write_text(whole + "4 7 0 1 0.4")  # cut by the death of its writer
    st = out2.stat()
    body = (f"tilvex-journal 1\ntx 0000000000000001\ncommit -\nfile {st.st_dev} {st.st_ino} {len(whole)} "
            f"{str(out2).encode().hex()}\n")
    (tmp_path / ".out2.txt.tilvex-journal").write_text(body + f"check {fnv1a(body.encode()):016x}\n")
    accepted = tilvex.read_accepted(out2)
    assert len(accepted) == 1 and accepted["xgrid"][0] == 3


def test_the_example_runs(tmp_path):
    env = dict(os.environ, MPLBACKEND="Agg")
    done = subprocess.run([sys.executable, str(SOURCE / "examples" / "python" / "grid_example.py"), str(tmp_path)],
                          capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    assert "phi=" in done.stdout and "points in the table" in done.stdout


def test_the_files_health_is_warned_of_in_tilvexs_words(tmp_path):
    data = SOURCE / "tests" / "data"
    for name in ("missing-solution.vrin", "unparsed-fields.vrin", "worked.vrin"):
        path = data / name
        done = subprocess.run([BINARY, str(path), str(tmp_path / "s"), "95", str(tmp_path / "a"), "1", "2", "3",
                               "4"], capture_output=True, text=True)
        said = [line[len("tilvex: warning: "):] for line in done.stderr.splitlines()
                if line.startswith("tilvex: warning: ") and f"'{path}'" in line]
        for analyse in (lambda: tilvex.analyse_file(path, 95),
                        lambda: tilvex.analyse_bytes(path.read_bytes(), 95, str(path))):
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                analyse()
            found = [w.message for w in caught if isinstance(w.message, tilvex.TilvexWarning)]
            assert [str(w) for w in found] == said, name
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        tilvex.analyse_file(data / "missing-solution.vrin", 95)
    first = caught[0].message
    assert (first.code, first.line, first.count) == ("cut", 5, 1)


def test_the_package_exposes_its_api_only():
    """Regression: np, os, Tuple, Union, warnings and annotations were in the
    package's namespace (dir(tilvex), a completion's list) beside its API."""
    public = {n for n in dir(tilvex) if not n.startswith("_")}
    assert public == set(tilvex.__all__), public ^ set(tilvex.__all__)
    star = {}
    exec("from tilvex import *", star)
    assert set(star) - {"__builtins__"} == set(tilvex.__all__)
    assert {"analyse", "read_vrin", "read_dataset", "Result", "TilvexFileNotFoundError"} <= set(tilvex.__all__)


def test_a_file_that_cannot_be_read_is_an_oserror_with_its_errno(tmp_path):
    """Regression: a missing file was a TilvexError only, which `except
    FileNotFoundError` and `except OSError` did not catch."""
    missing, folder = tmp_path / "missing.vrin", tmp_path / "folder"
    folder.mkdir()
    for path, kind, number in ((missing, tilvex.TilvexFileNotFoundError, errno.ENOENT),
                               (folder, tilvex.TilvexOSError, errno.EISDIR)):
        done = subprocess.run([BINARY, str(path), str(tmp_path / "o"), "95", str(tmp_path / "o2"), "1", "2", "3", "4"],
                              capture_output=True, text=True)
        for call in (lambda: tilvex.analyse_file(path, 95), lambda: tilvex.read_vrin(path),
                     lambda: tilvex.read_table(path), lambda: tilvex.read_accepted(path)):
            with pytest.raises(kind) as raised:
                call()
            e = raised.value
            assert isinstance(e, tilvex.TilvexError) and isinstance(e, OSError)
            assert isinstance(e, FileNotFoundError) == (number == errno.ENOENT)
            assert (e.errno, e.strerror, e.filename) == (number, os.strerror(number), str(path))
            assert str(e) == f"{e.message}: {e.reason}" and e.reason.endswith(f"'{path}': {os.strerror(number)}")
            copy = pickle.loads(pickle.dumps(e))
            assert (type(copy), copy.message, copy.reason, copy.errno, copy.filename) == \
                (kind, e.message, e.reason, e.errno, e.filename)
        with pytest.raises(kind) as raised:
            tilvex.analyse_file(path, 95)
        assert raised.value.message + "\n" == done.stdout and done.stderr == f"tilvex: {raised.value.reason}\n"


def test_read_vrin_gives_the_records_analyse_file_reads(tmp_path):
    """analyse(*read_vrin(p)) is analyse_file(p) where every field parses;
    where one does not, the arrays hold what the program's reader kept."""
    checked = 0
    for path in inputs(tmp_path):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                whole = tilvex.analyse_file(path, 95)
            except tilvex.TilvexError as refused:  # read_vrin refuses it alike
                with pytest.raises(type(refused)) as again:
                    tilvex.read_vrin(path)
                assert (again.value.message, again.value.reason) == (refused.message, refused.reason)
                continue
            best, resamples = tilvex.read_vrin(path)
        assert best.dtype == resamples.dtype == np.float32 and best.shape == (13,)
        assert resamples.shape == (whole.count, 13), path
        if whole.unread_fields:
            continue
        for level in (95, 68.3, 100):
            held, read = tilvex.analyse(best, resamples, level), tilvex.analyse_file(path, level)
            assert tilvex.format_summary(held) == tilvex.format_summary(read), (path, level)
            assert tilvex.format_accepted(held, (0, 0, 0, 0)) == tilvex.format_accepted(read, (0, 0, 0, 0))
            assert struct.pack("f", held.threshold) == struct.pack("f", read.threshold) or np.isnan(read.threshold)
        checked += 1
    assert checked >= 10
    # A field that does not parse keeps the value it held: the rest of its
    # line too, from the previous record (0 in the first resample).
    path = tmp_path / "unparsed.vrin"
    path.write_text("1 0 0 0 0 -1\n0.5 10 20 120 5 240 78\n"
                    "1 0.1 0 0 0 -1\n0.4 x 21 121 4 241 79\n"
                    "2 x 0 0 0 -1\n0.3 11 22 oops 6 242 80\n")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        best, resamples = tilvex.read_vrin(path)
    assert best.tolist() == [1, 0, 0, 0, 0, -1, 0.5, 10, 20, 120, 5, 240, 78]
    assert resamples.tolist() == [[1, np.float32(0.1), 0, 0, 0, -1, np.float32(0.4), 0, 0, 0, 0, 0, 0],
                                  [2, np.float32(0.1), 0, 0, 0, -1, np.float32(0.3), 11, 22, 0, 0, 0, 0]]
    found = [(w.message.code, w.message.line) for w in caught if isinstance(w.message, tilvex.TilvexWarning)]
    assert found == [("unread", 4)], found
    with pytest.raises(tilvex.TilvexFileNotFoundError):
        tilvex.read_vrin(tmp_path / "missing.vrin")


def test_a_result_shows_its_counts_threshold_and_bounds():
    """Regression: a Result printed as <tilvex._tilvex.Result object at 0x...>."""
    r = tilvex.analyse_file(SOURCE / "examples" / "worked.vrin", 75)
    assert repr(r) == ("<tilvex.Result count=4 threshold=0.97467947 accepted=3 phi=(0.5, 0.4, 0.55) "
                       "tr1=(355, 350, 360) pl1=(10, 7, 12) tr2=(120, 118, 125) pl2=(5, 3, 6) "
                       "tr3=(240, 235.00002, 250) pl3=(78, 75, 80)>")
    assert np.float32(0.97467947) == np.float32(r.threshold) and np.float32("235.00002") == r.bounds["tr3"][1]
    empty = tilvex.analyse(np.zeros(13), np.empty((0, 13)), 95)
    assert repr(empty).startswith("<tilvex.Result count=0 threshold=nan accepted=0 phi=(0, 1, 0) ")
    assert str(r) == repr(r) and type(r).__module__ == "tilvex" and tilvex.Result is type(r)


# A bootstrap whose SHmax range crosses north: sigma 3 vertical, so SHmax
# is sigma 1's trend, 0 for the best fit and -5 to 8 for the resamples;
# one resample of another regime (sigma 1 steep, NF), whose SHmax is sigma
# 2's trend, 178. The tensors are all alike: every resample is accepted.
ACROSS_NORTH = "".join(f"1 0 0 0.5 0 0\n{phi} {t1} {p1} {t1 + 90} 0 0 {90 - p1}\n" for phi, t1, p1 in (
    (0.5, 0, 0), (0.4, -5, 0), (0.6, 3, 0), (0.45, 8, 0), (0.55, -2, 0), (0.5, 88, 60)))


def test_the_stress_quantities_are_the_tables(tmp_path):
    """Result.shmax, regime, regime_share and aphi equal tilvex-grid's table
    columns, value for value, SHmax folded into [0, 180) as there."""
    files = [p for p in inputs(tmp_path) if p.name not in ("junk.vrin", "empty.vrin", "missing.vrin")]
    across = tmp_path / "across.vrin"
    across.write_text(ACROSS_NORTH)
    files.append(across)
    grid = tmp_path / "grid.txt"
    grid.write_text("".join(f"{p} {i} 0 0 0\n" for i, p in enumerate(files)))
    subprocess.run([GRID, str(grid), str(tmp_path / "s.txt"), "100", str(tmp_path / "a.txt"), "--table",
                    str(tmp_path / "t.tsv"), "--quiet"], capture_output=True, check=True)
    table = tilvex.read_table(tmp_path / "t.tsv")
    assert len(table) == len(files) and list(table["status"]).count("ok") == len(files)
    bits = lambda *v: struct.pack(f"{len(v)}f", *v)

    def same(r, row):
        assert bits(*r.shmax) == bits(row["shmax"], row["shmax_low"], row["shmax_high"]), row["input"]
        assert r.regime == row["regime"], row["input"]
        assert bits(r.regime_share) == bits(row["regime_share"]), row["input"]
        assert bits(*r.aphi) == bits(row["aphi"], row["aphi_low"], row["aphi_high"]), row["input"]

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for row, path in zip(table, files):
            r = tilvex.analyse_file(path, 100)
            same(r, row)
            if not r.unread_fields:
                same(tilvex.analyse(*tilvex.read_vrin(path), 100), row)
    r = tilvex.analyse_file(across, 100)
    assert r.count == 5 and len(r.accepted) == 5
    assert np.allclose(r.shmax, (0, 175, 8), atol=1e-4) and r.shmax[1] > r.shmax[2]  # low is the greater
    assert (r.regime, r.regime_share) == ("TF", np.float32(0.8))
    assert np.allclose(r.aphi, (2.5, 0.5, 2.6), atol=1e-6)
    # Without resamples: the best fit's values, and no share.
    alone = tilvex.analyse(tilvex.read_vrin(across)[0], np.empty((0, 13)), 95)
    assert np.allclose(alone.shmax, 0, atol=1e-9) and alone.aphi == (2.5, 2.5, 2.5) and alone.regime == "TF"
    assert np.isnan(alone.regime_share)


def test_a_level_taken_as_other_than_meant_is_warned_of_in_the_programs_words(tmp_path):
    """0.95 is 0.95 per cent: the programs say so on standard error, and
    the package through warnings; 95 and 100 are not warned of."""
    worked = SOURCE / "examples" / "worked.vrin"
    best, resamples = tilvex.read_vrin(worked)
    for level in (0.95, 1, 0, -3, 150, float("inf"), 95, 100, 68.3):
        done = subprocess.run([BINARY, str(worked), str(tmp_path / "o"), str(level), str(tmp_path / "o2"), "1", "2",
                               "3", "4"], capture_output=True, text=True)
        said = [line[len("tilvex: warning: "):] for line in done.stderr.splitlines()]
        assert len(said) == (0 if level in (95, 100, 68.3) else 1), (level, done.stderr)
        for analyse in (lambda: tilvex.analyse(best, resamples, level), lambda: tilvex.analyse_file(worked, level),
                        lambda: tilvex.analyse_bytes(worked.read_bytes(), level)):
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                r = analyse()
            found = [w for w in caught if isinstance(w.message, tilvex.TilvexWarning)]
            assert [str(w.message) for w in found] == said, level
            assert all(w.message.code == "level" and w.filename == __file__ for w in found)
            assert tilvex.format_summary(r) == tilvex.format_summary(tilvex.analyse(best, resamples, np.float32(level)))


def test_format_accepted_says_what_grid_it_wants():
    r = tilvex.analyse_file(SOURCE / "examples" / "worked.vrin", 75)
    wanted = "grid must be four ints (xgrid, ygrid, zgrid, tgrid), not "
    for grid, kind, said in (((3, 7, 0), ValueError, "3 values"), ((3, 7, 0, 1, 2), ValueError, "5 values"),
                             ((3,), ValueError, "1 value"), (7, TypeError, "int"), (None, TypeError, "NoneType")):
        with pytest.raises(kind, match=re.escape(wanted + said) + "$"):
            tilvex.format_accepted(r, grid)
    assert tilvex.format_accepted(r, [3, 7, 0, 1]) == tilvex.format_accepted(r, np.array([3, 7, 0, 1]))
    assert tilvex.format_accepted(r, (3, 7, 0, 1)).startswith("3 7 0 1 ")


def test_pandas_frames_hold_the_counts_as_nullable_ints(tmp_path):
    """n and accepted are Int64 with <NA> for a failed point (not floats
    with nan); the other columns are the numpy table's, value for value."""
    pd = pytest.importorskip("pandas")
    files = run_grid(tmp_path)
    table = tilvex.read_table(tmp_path / "t.tsv")
    frame = tilvex.read_table(tmp_path / "t.tsv", pandas=True)
    assert list(frame.columns) == list(table.dtype.names) and len(frame) == len(table) == len(files)
    assert str(frame["n"].dtype) == str(frame["accepted"].dtype) == "Int64"
    failed = table["status"] != "ok"
    assert failed.any() and (~failed).any()
    assert frame["n"][failed].isna().all() and frame["accepted"][failed].isna().all()
    assert frame["n"][~failed].tolist() == table["n"][~failed].astype(int).tolist()
    assert frame["accepted"][~failed].tolist() == table["accepted"][~failed].astype(int).tolist()
    for name in table.dtype.names:
        if name in ("n", "accepted"):
            continue
        assert frame[name].dtype == table.dtype[name], name
        if table.dtype[name] == object:
            assert all(type(v) is str for v in frame[name]) and frame[name].tolist() == table[name].tolist(), name
        else:
            assert frame[name].to_numpy().tobytes() == table[name].tobytes(), name
    assert frame["regime"][failed].tolist() == ["nan"] * failed.sum()

    accepted = tilvex.read_accepted(tmp_path / "a.txt")
    frame = tilvex.read_accepted(tmp_path / "a.txt", pandas=True)
    assert list(frame.columns) == list(accepted.dtype.names) and len(frame) == len(accepted) > 0
    for name in accepted.dtype.names:
        assert frame[name].dtype == accepted.dtype[name] and frame[name].to_numpy().tobytes() == accepted[name].tobytes()
