#!/usr/bin/python3
"""A generated grid (two z levels, a gap, a failed point, trend ranges
across north), written by tilvex-grid as a table and a netCDF file: the
file read by xarray, by ncdump and by GMT gives the table's values, value
for value (float32 to the bit; trends folded into [0, 360)).

Usage: netcdf_agreement.py TILVEX_GRID TILVEX_GENERATE
Exits 77 (skipped) where xarray, ncdump or gmt is missing."""

import csv
import math
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import numpy as np
    import xarray as xr
except ImportError:
    sys.exit(77)
if not shutil.which("ncdump") or not shutil.which("gmt"):
    sys.exit(77)

GRID, GENERATE = sys.argv[1:3]
FLOATS = ["threshold"] + [q + b for q in ("phi", "tr1", "pl1", "tr2", "pl2", "tr3", "pl3")
                          for b in ("", "_low", "_high")] + \
         ["shmax", "shmax_low", "shmax_high", "regime_share", "aphi", "aphi_low", "aphi_high"]
REGIMES = ["NF", "NS", "SS", "TS", "TF", "U"]
failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)


def f32(text):
    return np.float32(float(text))  # the shortest text of a float reads back to it


def folded(v):
    """A trend as the file gives it: folded into [0, 360) in double, then
    rounded to float32 once (360 after rounding is 0)."""
    if math.isnan(v):
        return np.float32("nan")
    a = math.fmod(float(v), 360.0)
    if a < 0:
        a += 360.0
    f = np.float32(a)
    return np.float32(0) if f >= 360 else f


def same(a, b):
    a, b = np.float32(a), np.float32(b)
    return (np.isnan(a) and np.isnan(b)) or a.tobytes() == b.tobytes()


with tempfile.TemporaryDirectory() as d:
    points = []
    for z in (0, 3):
        for x in range(4):
            for y in range(3):
                if (x, y, z) in ((2, 1, 0), (3, 2, 3)):
                    continue  # a gap, and the failed point's place
                name = os.path.join(d, f"p{x}{y}{z}.vrin")
                with open(name, "w") as f:
                    subprocess.run([GENERATE, "300", str(7 + 13 * x + 5 * y + z), str(350 * (x % 2))],
                                   stdout=f, check=True)
                points.append(f"{name} {x} {y} {z} 1")
    points.append(os.path.join(d, "missing.vrin") + " 3 2 3 1")  # fails
    with open(os.path.join(d, "grid.txt"), "w") as f:
        f.write("".join(p + "\n" for p in points))
    table, nc = os.path.join(d, "grid.tsv"), os.path.join(d, "grid.nc")
    r = subprocess.run([GRID, os.path.join(d, "grid.txt"), os.path.join(d, "o.txt"), "95",
                        os.path.join(d, "o2.txt"), "--table", table, "--netcdf", nc, "--quiet"],
                       capture_output=True, text=True)
    expect(r.returncode == 1, f"tilvex-grid ended {r.returncode}: {r.stderr}")
    with open(table) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    expect(len(rows) == 23, f"{len(rows)} rows")
    expect(any(float(r["tr1_low"]) < 0 or float(r["tr1_high"]) >= 360 for r in rows if r["status"] == "ok"),
           "no trend range across north: the folding is not tried")

    # xarray: every value of every row in its cell.
    ds = xr.open_dataset(nc)
    expect(list(ds.x.values) == [0, 1, 2, 3] and list(ds.y.values) == [0, 1, 2]
           and list(ds.z.values) == [0, 3] and list(ds.t.values) == [1], "coordinates")
    expect(ds.attrs["confidence_level"] == "95" and ds.attrs["Conventions"] == "CF-1.8", "attributes")
    for row in rows:
        at = dict(t=int(row["tgrid"]), z=int(row["zgrid"]), y=int(row["ygrid"]), x=int(row["xgrid"]))
        cell = ds.sel(at)
        ok = row["status"] == "ok"
        expect(int(cell.status) == (0 if ok else 1), f"status at {at}")
        for name in FLOATS:
            want = f32(row[name])
            if name[:2] == "tr":
                want = folded(want)
            expect(same(cell[name].values, want), f"{name} at {at}: {cell[name].values} against {want}")
        if ok:
            expect(int(cell.n) == int(row["n"]) and int(cell.accepted) == int(row["accepted"]), f"counts at {at}")
            expect(REGIMES[int(cell.regime)] == row["regime"], f"regime at {at}")
            expect(str(cell.input.values) == row["input"], f"input at {at}")
        else:
            expect(math.isnan(float(cell.n)) and math.isnan(float(cell.regime)), f"fills at {at}")
    gap = ds.sel(t=1, z=0, y=1, x=2)
    expect(math.isnan(float(gap.status)) and math.isnan(float(gap.phi)), "the gap holds fill values")

    # ncdump: the same numbers, printed to 9 digits (enough for a float).
    dump = subprocess.run(["ncdump", "-p", "9,17", "-v", "shmax,tr1_low", nc],
                          capture_output=True, text=True, check=True).stdout
    for name in ("shmax", "tr1_low"):
        text = dump.split(f" {name} =")[1].split(";")[0]
        values = [np.float32("nan") if w.strip() == "_" else f32(w) for w in text.replace("\n", "").split(",")]
        expect(len(values) == ds[name].size, f"ncdump {name}: {len(values)} values")
        expect(all(same(a, b) for a, b in zip(values, ds[name].values.ravel())), f"ncdump {name} differs")

    # GMT: each z level of phi and aphi as a grid of its own.
    for k, z in enumerate((0, 3)):
        for name in ("phi", "aphi", "shmax"):
            out = subprocess.run(["gmt", "grd2xyz", f"{nc}?{name}[0,{k}]", "-s"],
                                 capture_output=True, text=True, check=True).stdout
            got = {(int(float(a)), int(float(b))): f32(v) for a, b, v in (l.split() for l in out.splitlines())}
            want = {(int(r["xgrid"]), int(r["ygrid"])): f32(r[name]) for r in rows
                    if int(r["zgrid"]) == z and r["status"] == "ok" and not math.isnan(float(r[name]))}
            expect(got.keys() == want.keys(), f"gmt {name} z={z}: points {sorted(got)} against {sorted(want)}")
            expect(all(same(got[p], want[p]) for p in want if p in got), f"gmt {name} z={z}: values")
    info = subprocess.run(["gmt", "grdinfo", "-C", f"{nc}?phi[0,1]"], capture_output=True, text=True,
                          check=True).stdout.split()
    w, e, s, n, v0, v1 = (float(v) for v in info[1:7])
    phis = [f32(r["phi"]) for r in rows if r["status"] == "ok"]
    expect((w, e, s, n) == (0, 3, 0, 2), f"gmt grdinfo region {(w, e, s, n)}")
    expect(same(v0, min(phis)) and same(v1, max(phis)), f"gmt grdinfo range {v0} {v1}")

for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
