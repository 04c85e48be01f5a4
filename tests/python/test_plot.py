"""tilvex.plot against tilvex-plot: the markers, the best fit and the
contours of the stereonet, and the map's bars, where the SVG has them.

The SVG prints coordinates with one decimal (0.1 px; the net's radius is
250 px): a position matches when it is within half that last digit of the
SVG's, 2e-4 of the net's radius (closer the SVG cannot tell)."""

import os
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tilvex

import tilvex.plot

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    matplotlib = None
needs_matplotlib = pytest.mark.skipif(matplotlib is None, reason="matplotlib is missing (Debian: python3-matplotlib)")

BINARY = os.environ["TILVEX_BINARY"]
GRID = os.environ["TILVEX_GRID"]
GENERATE = os.environ["TILVEX_GENERATE"]
PLOT = os.environ["TILVEX_PLOT"]


def generated(tmp, n, seed):
    path = tmp / f"g{n}-{seed}.vrin"
    path.write_bytes(subprocess.run([GENERATE, str(n), str(seed)], capture_output=True, check=True).stdout)
    return path


def svg_of(tmp, *arguments):
    out = tmp / "figure.svg"
    subprocess.run([PLOT, *map(str, arguments), "-o", str(out)], check=True, capture_output=True)
    return out.read_text()


def svg_markers(svg, prefix):
    """The anchors of the markers of class prefix1 to prefix3 as the SVG
    prints them (px): a circle's centre, a square's corner, a triangle's
    apex."""
    out = []
    for tag, pattern in (("circle", r'cx="([-\d.]+)" cy="([-\d.]+)"'), ("rect", r'x="([-\d.]+)" y="([-\d.]+)"'),
                         ("polygon", r'points="([-\d.]+),([-\d.]+) ')):
        k = len(out)
        out.append(np.array(re.findall(rf'<{tag} class="{prefix}{k + 1}" {pattern}', svg), dtype=float).reshape(-1, 2))
    return out


def anchors(points, axis, scale=1.0):
    """Points of the net (radius 1) as the SVG places the anchors of their
    markers: the centre at (300 + 250 east, 330 - 250 north), the square's
    corner 2.8 px up and left of it, the triangle's apex 3.8 px above it
    (`scale` times that for the best fit)."""
    points = np.asarray(points)
    at = np.column_stack([300 + 250 * points[:, 0], 330 - 250 * points[:, 1]])
    return at - scale * np.array([(0.0, 0.0), (2.8, 2.8), (0.0, 3.8)][axis])


def same_points(python, svg):
    """Python's points, in order, where the SVG prints them: within half
    its last digit (0.05 px, 2e-4 of the net's radius)."""
    assert python.shape == svg.shape
    assert len(svg) == 0 or np.abs(python - svg).max() <= 0.05 + 1e-9


def svg_contour_points(svg, axis):
    group = re.search(rf'<g class="contours{axis}"[^>]*>(.*?)</g>', svg, re.S)
    if group is None:
        return np.zeros((0, 2))
    numbers = re.findall(r"[ML]([-\d.]+) ([-\d.]+)", group.group(1))
    return np.array([((float(a) - 300) / 250, (330 - float(b)) / 250) for a, b in numbers])


@needs_matplotlib
def test_the_stereonet_draws_the_svgs_markers_best_fit_and_contours(tmp_path):
    """Markers and best fit at the SVG's positions, in order; every vertex
    of each axis's contours on a segment end of the SVG's and the other way
    round (the grid's orientation, its nodes and the levels: a level off
    by one part in 10^4 moves them), for each method."""
    vrin = generated(tmp_path, 400, 21)
    r = tilvex.analyse_file(vrin, 95)
    for method in ("regions", "density", "sigma"):
        svg = svg_of(tmp_path, "--vrin", vrin, "--level", "95", "--contours", method)
        fig, ax = plt.subplots()
        drawn = tilvex.plot.stereonet(ax, r, contours=method)
        fig.canvas.draw()
        fills = re.findall(r'<g fill="(#[0-9A-F]{6})" fill-opacity="0.5">', svg)
        assert [matplotlib.colors.to_hex(m.get_facecolor()[0], keep_alpha=False).upper()
                for m in drawn["markers"]] == fills
        for k, found in enumerate(svg_markers(svg, "axis")):
            assert drawn["markers"][k].get_gid() == f"axis{k + 1}" and len(found) == r.solutions.shape[0]
            same_points(anchors(drawn["markers"][k].get_offsets(), k), found)
        best = svg_markers(svg, "best")
        assert [len(b) for b in best] == [1, 1, 1] and len(drawn["best"]) == 3
        for k, b in enumerate(drawn["best"]):
            same_points(anchors(b.get_offsets(), k, 2.4), best[k])
        axes = [axis for axis, _, _ in drawn["contours"]]
        assert axes == [k for k in (1, 2, 3) if f'class="contours{k}"' in svg] and axes
        for axis, levels, lines in drawn["contours"]:
            python = np.concatenate([segment for level in lines.allsegs for segment in level])
            ours = svg_contour_points(svg, axis)
            assert len(ours) and len(python)
            half_digit = 0.05 / 250 + 1e-9
            distance = lambda a, b: np.abs(a[:, None, :] - b[None, :, :]).max(axis=2).min(axis=1)
            assert distance(ours, python).max() <= half_digit
            assert distance(python, ours).max() <= half_digit
        plt.close(fig)


@needs_matplotlib
def test_accepted_rows_of_one_grid_point_are_drawn_as_tilvex_plot_draws_them(tmp_path):
    """read_accepted's rows of two points: grid= picks one, as --grid does,
    and its table row gives the best fit as --table does; without grid=
    the figure is refused rather than mixing the points."""
    grid = tmp_path / "grid.txt"
    grid.write_text("".join(f"{generated(tmp_path, n, x + 4)} {x} 7 0 0\n" for x, n in ((1, 300), (2, 200))))
    accepted, table = tmp_path / "accepted.txt", tmp_path / "t.tsv"
    subprocess.run([GRID, str(grid), str(tmp_path / "s.txt"), "90", str(accepted), "--table", str(table), "--quiet"],
                   check=True, capture_output=True)
    rows, points = tilvex.read_accepted(accepted), tilvex.read_table(table)
    svg = svg_of(tmp_path, accepted, "--grid", "2", "7", "0", "0", "--table", table)
    fig, ax = plt.subplots()
    drawn = tilvex.plot.stereonet(ax, rows, grid=(2, 7, 0, 0), best=points[points["xgrid"] == 2][0])
    assert drawn["count"] == int(np.sum(rows["xgrid"] == 2)) != int(np.sum(rows["xgrid"] == 1))
    for k, found in enumerate(svg_markers(svg, "axis")):
        assert len(found) == drawn["count"]
        same_points(anchors(drawn["markers"][k].get_offsets(), k), found)
    for k, (b, found) in enumerate(zip(drawn["best"], svg_markers(svg, "best"))):
        same_points(anchors(b.get_offsets(), k, 2.4), found)
    assert len(drawn["best"]) == 3
    with pytest.raises(ValueError, match="of 2 grid points"):
        tilvex.plot.stereonet(ax, rows)
    plt.close(fig)


def svg_bars(svg):
    """(colour, azimuth in degrees, 0 to 180) of each bar, in order, from
    its path: from the azimuth + 180 end to the azimuth end, y down."""
    out = []
    for x1, y1, x2, y2, colour in re.findall(
            r'<path class="bar" d="M([-\d.]+) ([-\d.]+)L([-\d.]+) ([-\d.]+)" stroke="(#[0-9a-f]{6})"', svg):
        dx, dy = float(x2) - float(x1), float(y1) - float(y2)
        out.append((colour, np.degrees(np.arctan2(dx, dy)) % 180.0, np.hypot(dx, dy)))
    return out


@needs_matplotlib
def test_the_map_draws_the_svgs_bars_wedges_and_symbols(tmp_path):
    """Each bar's azimuth is the table's shmax (or axis 1's trend) and the
    SVG's, its colour the SVG's, in row order; the wedges, the isotropic
    circles and the failed points' crosses are as many as the SVG's; the
    field's cells take the SVG's colours."""
    files = [generated(tmp_path, 200, seed) for seed in range(30, 42)]
    files += [tmp_path / "missing.vrin"]
    (tmp_path / "empty.vrin").write_text("")
    files.append(tmp_path / "empty.vrin")
    grid = tmp_path / "grid.txt"
    grid.write_text("".join(f"{p} {i % 5} {i // 5} 0 0\n" for i, p in enumerate(files)))
    subprocess.run([GRID, str(grid), str(tmp_path / "s.txt"), "95", str(tmp_path / "a.txt"), "--table",
                    str(tmp_path / "t.tsv"), "--quiet"], capture_output=True)
    table = tilvex.read_table(tmp_path / "t.tsv")
    for bars, field in (("shmax", "aphi"), ("axis1", "phi")):
        svg = svg_of(tmp_path, "--map", tmp_path / "t.tsv", "--bars", bars, "--field", field)
        fig, ax = plt.subplots()
        drawn = tilvex.plot.grid_map(ax, table, bars=bars, field=field)
        ours = svg_bars(svg)
        segments = drawn["bars"].get_segments()
        colours = [matplotlib.colors.to_hex(c) for c in drawn["bars"].get_colors()]
        angles = [np.degrees(np.arctan2(s[1, 0] - s[0, 0], s[1, 1] - s[0, 1])) % 180.0 for s in segments]
        assert [c for c, _, _ in ours] == colours and len(ours) > 5
        for (_, svg_angle, length), angle in zip(ours, angles):
            # the SVG's ends are rounded to 0.05 px: the angle to within atan(0.1 / length)
            assert abs((svg_angle - angle + 90.0) % 180.0 - 90.0) <= np.degrees(0.1 / length) + 1e-9
        ok = table["status"] == "ok"
        expected = (table["shmax"] if bars == "shmax" else table["tr1"])[ok]
        expected = expected[np.isfinite(expected)].astype(float) % 180.0
        assert np.allclose((np.array(angles) - expected + 90.0) % 180.0 - 90.0, 0.0, atol=1e-9)
        # Each wedge from the SVG's start to its end (clockwise), at the
        # SVG's angles within what its rounding allows.
        sectors = re.findall(r'<path class="wedge" d="M([-\d.]+) ([-\d.]+)L([-\d.]+) ([-\d.]+)A([-\d.]+) [-\d.]+ '
                             r'0 0 1 ([-\d.]+) ([-\d.]+)Z"', svg)
        paths = [] if drawn["wedges"] is None else drawn["wedges"].get_paths()
        assert len(paths) == len(sectors) > 5
        azimuth = lambda dx, dy: np.degrees(np.arctan2(dx, dy))
        for path, (cx, cy, x1, y1, radius, x2, y2) in zip(paths, sectors):
            cx, cy, x1, y1, radius, x2, y2 = map(float, (cx, cy, x1, y1, radius, x2, y2))
            v = path.vertices  # the arc counter-clockwise, the centre, back to the arc, closed
            arc, centre = v[:-3], v[-3]
            start, end = arc[-1] - centre, arc[0] - centre
            tolerance = np.degrees(0.15 / radius) + 1e-9
            for (px, py), (sx, sy) in ((start, (x1 - cx, cy - y1)), (end, (x2 - cx, cy - y2))):
                assert abs((azimuth(px, py) - azimuth(sx, sy) + 180.0) % 360.0 - 180.0) <= tolerance
        assert (0 if drawn["isotropic"] is None else len(drawn["isotropic"].get_paths())) == \
            svg.count('class="isotropic"')
        assert len(drawn["failed"].get_segments()) == 2 * svg.count('class="failed"') == 4
        cells = re.findall(r'<rect class="cell"[^>]* fill="(#[0-9a-f]{6})"', svg)
        assert [matplotlib.colors.to_hex(c) for c in drawn["field"].get_facecolors()] == cells
        plt.close(fig)


def test_without_matplotlib_drawing_says_what_to_install(monkeypatch):
    """import tilvex needs no matplotlib; a drawing function names the
    packages that bring it."""
    blocked = ("import sys; sys.modules['matplotlib'] = None; import tilvex, tilvex.plot; "
               "print(tilvex.plot.AXIS_COLOURS)")
    assert subprocess.run([sys.executable, "-c", blocked], capture_output=True, text=True, check=True).stdout
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.collections", None)
    for draw in (tilvex.plot.stereonet, tilvex.plot.grid_map):
        with pytest.raises(ImportError, match="python3-matplotlib; pip: matplotlib"):
            draw(None, np.zeros((0, 7), np.float32))
