"""Runs examples/gmt/stress_map.sh as its README says, on a grid made by
tilvex-grid --netcdf, and checks what the figures show, pixel by pixel,
against the grid's table: the grid is 4 x 3 points of slice t 0 (every
regime, one failed point, one cell without a point) and three points of
slice t 7.

- SHmax: each bar in its regime's colour at its point, along its azimuth
  (clockwise from north) on both sides, white across it and beyond its
  ends; the failed point a grey cross and nothing else; a cell without a
  point (or with a point of the other slice only) blank; the legend holds
  every colour.
- A-phi and phi: each cell in the colour of its value, the same as the
  colour bar's at that value; A-phi's colours are those of README.md's
  table, and the bar's thirds are red, green and blue; a cell without a
  value white.
- A slice index past the end is refused, nothing drawn (GMT alone would
  draw zeros).

    stress_map_test.py TILVEX_GRID TILVEX_GENERATE EXAMPLES_DIR

Exit 77 (skipped) where GMT or Pillow is missing, outside CI; in CI
(CI=true) that is a failure.
"""

import csv
import math
import os
import shutil
import subprocess
import sys
import tempfile


def skip(reason):
    if os.environ.get("CI") == "true":
        sys.exit(f"stress map test cannot run in CI: {reason}")
    print(f"stress map test skipped: {reason}", file=sys.stderr)
    sys.exit(77)


try:
    from PIL import Image
except ImportError:
    skip("Pillow is missing (Debian package python3-pil)")
for program, package in (("gmt", "gmt"), ("gs", "ghostscript")):
    if not shutil.which(program):
        skip(f"{program} is missing (Debian package {package})")

grid_program, generate, examples = (os.path.abspath(a) for a in sys.argv[1:4])
script = os.path.join(examples, "gmt", "stress_map.sh")

# (x, y, t) -> tilvex-generate's seed; None: an input that does not exist.
# Cell (1, 2) of slice t 0 has no point. The seeds give every regime.
POINTS = {
    (0, 0, 0): 5, (1, 0, 0): 36, (2, 0, 0): 6, (3, 0, 0): 2,
    (0, 1, 0): 7, (1, 1, 0): 1, (2, 1, 0): None, (3, 1, 0): 16,
    (0, 2, 0): 9, (2, 2, 0): 10, (3, 2, 0): 13,
    (0, 0, 7): 20, (2, 1, 7): 23, (3, 2, 7): 35,
}
NX, NY = 4, 3

# What README.md says of the figures.
REGIME_COLOURS = {"NF": (255, 0, 0), "NS": (255, 165, 0), "SS": (0, 176, 0),
                  "TS": (0, 200, 255), "TF": (0, 0, 255), "U": (0, 0, 0)}
FAILED = (128, 128, 128)
WHITE = (255, 255, 255)
APHI_CPT = [(0, (255, 0, 0), 1, (255, 210, 210)),
            (1, (210, 240, 210), 1.5, (0, 176, 0)),
            (1.5, (0, 176, 0), 2, (210, 240, 210)),
            (2, (210, 210, 255), 3, (0, 0, 255))]
DPI = 150
CELL = 12 / max(NX, NY)             # cm; the longer side is 12 cm
WIDTH, HEIGHT = CELL * NX, CELL * NY
TALL = max(HEIGHT, 6)               # the colour bar's length
PAGE = (WIDTH + 8, TALL + 3.5)
ORIGIN = 2                          # the map's lower left corner, cm

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def cm_to_px(image, x_cm, y_cm):
    """The pixel at x_cm, y_cm from the page's lower left corner."""
    k = DPI / 2.54
    return int(x_cm * k), int(image.height - y_cm * k)


def point_px(image, x, y):
    return cm_to_px(image, ORIGIN + (x + 0.5) * CELL, ORIGIN + (y + 0.5) * CELL)


def pixel(image, x_px, y_px):
    return image.getpixel((int(round(x_px)), int(round(y_px))))


def near(a, b, tolerance):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def aphi_colour(v):
    for low, c0, high, c1 in APHI_CPT:
        if low <= v <= high:
            f = (v - low) / (high - low)
            return tuple(round(p + f * (q - p)) for p, q in zip(c0, c1))
    raise ValueError(v)


def bar_colour(image, v, top):
    """The colour bar's colour at value v of 0 to top."""
    return image.getpixel(cm_to_px(image, ORIGIN + WIDTH + 0.8 + 0.25, ORIGIN + v / top * TALL))


def cell_pixels(image, x, y):
    """The pixels of the cell of point x, y, but for a rim of 0.05 cell."""
    x0, y0 = cm_to_px(image, ORIGIN + (x + 0.05) * CELL, ORIGIN + (y + 0.95) * CELL)
    x1, y1 = cm_to_px(image, ORIGIN + (x + 0.95) * CELL, ORIGIN + (y + 0.05) * CELL)
    return [image.getpixel((i, j)) for i in range(x0, x1) for j in range(y0, y1)]


def open_figure(path):
    if not os.path.exists(path):
        failures.append(f"{path} is missing")
        return None
    image = Image.open(path)
    check(image.format == "PNG", f"{path} is {image.format}, not PNG")
    size = tuple(p / 2.54 * DPI for p in PAGE)
    check(all(abs(a - b) <= 1.5 for a, b in zip(image.size, size)),
          f"{path} is {image.size} pixels, not the page's {size}")
    return image.convert("RGB")


def check_shmax(path, points, t):
    image = open_figure(path)
    if image is None:
        return
    px_per_cell = CELL * DPI / 2.54
    for x in range(NX):
        for y in range(NY):
            where = f"{path}: point {x} {y}"
            row = points.get((x, y, t))
            if row is None:
                check(all(p == WHITE for p in cell_pixels(image, x, y)), f"{where}: a cell without a point is drawn")
                continue
            cx, cy = point_px(image, x, y)
            if row["status"] != "ok":
                check(image.getpixel((cx, cy)) == FAILED, f"{where}: failed, {image.getpixel((cx, cy))} at its centre")
                check(all(p[0] == p[1] == p[2] for p in cell_pixels(image, x, y)),
                      f"{where}: failed, drawn in a colour")
                continue
            colour = REGIME_COLOURS[row["regime"]]
            a = math.radians(float(row["shmax"]))
            along, across = (math.sin(a), -math.cos(a)), (math.cos(a), math.sin(a))
            for d, ux, uy, expected, what in (
                    [(0, 0, 0, colour, "centre")] +
                    [(s * 0.3, *along, colour, "along the bar") for s in (-1, 1)] +
                    [(s * 0.2, *across, WHITE, "across the bar") for s in (-1, 1)] +
                    [(s * 0.45, *along, WHITE, "beyond the bar's end") for s in (-1, 1)]):
                got = pixel(image, cx + d * px_per_cell * ux, cy + d * px_per_cell * uy)
                check(got == expected, f"{where} ({row['regime']}, SHmax {row['shmax']}): {what} "
                      f"{d:+} cell: {got}, not {expected}")
    # The legend, right of the map, holds a mark of every colour.
    x0, _ = cm_to_px(image, ORIGIN + WIDTH + 0.4, 0)
    legend = [image.getpixel((i, j)) for i in range(x0, image.width) for j in range(image.height)]
    for name, colour in list(REGIME_COLOURS.items()) + [("failed", FAILED)]:
        check(legend.count(colour) >= 20, f"{path}: the legend has no mark of {name} {colour}")


def check_field(path, points, t, field):
    image = open_figure(path)
    if image is None:
        return
    top = 3 if field == "aphi" else 1
    if field == "aphi":
        for v in (0.25, 0.5, 0.75, 1.25, 1.5, 1.75, 2.25, 2.5, 2.75):
            got = bar_colour(image, v, top)
            check(near(got, aphi_colour(v), 6), f"{path}: colour bar at {v}: {got}, not {aphi_colour(v)}")
        for v, channel, name in ((0.5, 0, "red"), (1.5, 1, "green"), (2.5, 2, "blue")):
            got = bar_colour(image, v, top)
            check(max(range(3), key=lambda c: got[c]) == channel, f"{path}: colour bar at {v}: {got}, not {name}")
    for x in range(NX):
        for y in range(NY):
            row = points.get((x, y, t))
            got = image.getpixel(point_px(image, x, y))
            where = f"{path}: point {x} {y}"
            if row is None or row["status"] != "ok" or row[field] == "nan":
                check(got == WHITE, f"{where}: no value, but {got}")
                continue
            v = float(row[field])
            check(near(got, bar_colour(image, v, top), 6),
                  f"{where}: {field} {v}: {got}, the colour bar {bar_colour(image, v, top)}")
            if field == "aphi":
                check(near(got, aphi_colour(v), 2), f"{where}: aphi {v}: {got}, not {aphi_colour(v)}")


def run(command):
    return subprocess.run(command, capture_output=True, text=True)


with tempfile.TemporaryDirectory() as work:
    os.chdir(work)
    with open("grid.txt", "w") as grid_list:
        for (x, y, t), seed in POINTS.items():
            name = f"point_{x}_{y}_{t}.vrin"
            if seed is not None:
                with open(name, "w") as f:
                    subprocess.run([generate, "200", str(seed)], stdout=f, check=True)
            grid_list.write(f"{name} {x} {y} 0 {t}\n")
    grid = run([grid_program, "grid.txt", "summary.txt", "95", "accepted.txt",
                "--table", "grid.tsv", "--netcdf", "grid.nc", "--quiet"])
    if grid.returncode != 1 or not os.path.exists("grid.nc"):
        sys.exit(f"tilvex-grid (one point failing): status {grid.returncode}\n{grid.stderr}")
    with open("grid.tsv", newline="") as f:
        points = {(int(r["xgrid"]), int(r["ygrid"]), int(r["tgrid"])): r
                  for r in csv.DictReader(f, delimiter="\t")}
    regimes = {r["regime"] for k, r in points.items() if k[2] == 0 and r["status"] == "ok"}
    check(regimes == set(REGIME_COLOURS), f"the grid's slice t 0 has the regimes {sorted(regimes)}, not all six")

    os.mkdir("out")
    for args, t, field in ((["grid.nc", "out/first"], 0, "aphi"),
                           (["grid.nc", "out/second", "phi", "1", "0"], 7, "phi")):
        result = run([script] + args)
        check(result.returncode == 0 and result.stderr == "",
              f"stress_map.sh {' '.join(args)}: status {result.returncode}\n{result.stderr}")
        check_shmax(f"{args[1]}-shmax.png", points, t)
        check_field(f"{args[1]}-{field}.png", points, t, field)

    refused = run([script, "grid.nc", "out/past", "aphi", "2", "0"])
    check(refused.returncode == 1 and refused.stderr == "stress_map.sh: T is 2; 'grid.nc' has t 0 to 1\n",
          f"a slice past the end: status {refused.returncode}, {refused.stderr!r}")
    check(not [f for f in os.listdir("out") if f.startswith("past")], "a slice past the end drew a figure")

if failures:
    print("\n".join(failures), file=sys.stderr)
    sys.exit(1)
print("stress_map.sh: every figure shows what it should")
