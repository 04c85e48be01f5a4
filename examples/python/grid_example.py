"""A notebook-sized example of tilvex from Python.

    python3 grid_example.py [WORK_DIR]

1. Analyses a bootstrap held in numpy: a best fit and 2,000 resamples whose
   axes scatter about it.
2. Runs a small grid of such bootstraps through tilvex-grid (if it is on
   PATH, or named by TILVEX_GRID) and reads its table into pandas (if pandas
   is installed; else as a numpy array), and as an xarray dataset (if xarray
   is installed).
3. Draws a map of the grid: axis 1's trend at each point, coloured by phi,
   with matplotlib, if it is installed.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np

import tilvex


def bootstrap(rng, n, trend, plunge, phi):
    """A best fit and n resamples as (n + 1, 13) float32 records: a tensor
    with principal values 1, 2 phi - 1, -1 along axes near the given ones."""
    def axes(t, p):
        t, p = np.radians(t), np.radians(p)
        a1 = np.array([np.cos(t) * np.cos(p), np.sin(t) * np.cos(p), np.sin(p)])
        helper = np.array([0.0, 0.0, 1.0]) if abs(a1[2]) < 0.9 else np.array([1.0, 0.0, 0.0])
        a2 = np.cross(a1, helper)
        a2 /= np.linalg.norm(a2)
        return [a1, a2, np.cross(a1, a2)]

    def trend_plunge(v):
        v = -v if v[2] < 0 else v  # lower hemisphere
        return np.degrees(np.arctan2(v[1], v[0])) % 360, np.degrees(np.arcsin(min(1.0, v[2])))

    rows = []
    for i in range(n + 1):
        noise = 0 if i == 0 else 1
        f = phi + noise * 0.1 * rng.standard_normal()
        e = axes(trend + noise * 8 * rng.standard_normal(), plunge + noise * 8 * rng.standard_normal())
        t = sum(l * np.outer(a, a) for l, a in zip((1.0, 2 * f - 1, -1.0), e))
        angles = [x for a in e for x in trend_plunge(a)]
        rows.append([t[0, 0], t[0, 1], t[0, 2], t[1, 1], t[1, 2], t[2, 2], f, *angles])
    return np.array(rows, dtype=np.float32)


def main():
    work = Path(sys.argv[1] if len(sys.argv) > 1 else "tilvex-example")
    work.mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(1)

    # 1. In memory.
    records = bootstrap(rng, 2000, 30, 20, 0.5)
    r = tilvex.analyse(records[0], records[1:], 95)
    print(f"{r.count} resamples, {len(r.accepted)} accepted, threshold {r.threshold:.6f}")
    print("trend of axis 1: %.2f, from %.2f to %.2f" % r.bounds["tr1"])
    print(tilvex.format_summary(r), end="")
    print("SHmax %.1f, from %.1f to %.1f; regime" % r.shmax, r.regime, f"({r.regime_share:.0%} of the accepted)")

    # 2. A grid of 4 x 3 points through tilvex-grid, as files.
    grid = os.environ.get("TILVEX_GRID") or shutil.which("tilvex-grid")
    if grid is None:
        print("tilvex-grid is not on PATH: the grid is skipped")
        return
    lines = []
    for x in range(4):
        for y in range(3):
            rows = bootstrap(rng, 300, 20 * x + 10 * y, 15 + 5 * y, 0.3 + 0.1 * x)
            path = work / f"point_{x}_{y}.vrin"
            path.write_text("".join(" ".join(f"{v:.9g}" for v in row[:6]) + "\n"
                                    + " ".join(f"{v:.9g}" for v in row[6:]) + "\n" for row in rows))
            lines.append(f"{path} {x} {y} 0 0\n")
    (work / "grid.txt").write_text("".join(lines))
    for name in ("summary.txt", "accepted.txt", "summary.txt.tilvex-grid"):
        (work / name).unlink(missing_ok=True)
    subprocess.run([grid, str(work / "grid.txt"), str(work / "summary.txt"), "95",
                    str(work / "accepted.txt"), "--table", str(work / "grid.tsv"), "--quiet"], check=True)
    try:
        table = tilvex.read_table(work / "grid.tsv", pandas=True)
        print(table[["xgrid", "ygrid", "phi", "tr1", "tr1_low", "tr1_high"]].head())
    except ImportError:
        table = tilvex.read_table(work / "grid.tsv")
    print(f"{len(table)} points in the table")
    try:
        ds = tilvex.read_dataset(work / "grid.tsv")  # as tilvex-grid --netcdf would write it
        print("phi on the grid, a row per y and a column per x:", ds["phi"].isel(t=0, z=0).values.round(2), sep="\n")
    except ImportError:
        print("xarray is not installed: no dataset")

    # 3. A map, if matplotlib is there.
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no map")
        return
    x, y = np.asarray(table["xgrid"]), np.asarray(table["ygrid"])
    t = np.radians(np.asarray(table["tr1"], dtype=np.float64))
    fig, ax = plt.subplots()
    q = ax.quiver(x, y, np.sin(t), np.cos(t), np.asarray(table["phi"]), pivot="middle", headwidth=1)
    fig.colorbar(q, label="phi")
    ax.set(xlabel="x (east)", ylabel="y (north)", title="trend of axis 1")
    fig.savefig(work / "map.png")
    print(f"map: {work / 'map.png'}")


if __name__ == "__main__":
    main()
