"""tilvex's figures drawn into matplotlib Axes: the stereonet and the grid
map of tilvex-plot, with the same numbers.

    >>> import matplotlib.pyplot as plt, tilvex, tilvex.plot
    >>> fig, (left, right) = plt.subplots(1, 2)
    >>> tilvex.plot.stereonet(left, tilvex.analyse_file("run.vrin", 95))
    >>> tilvex.plot.grid_map(right, tilvex.read_table("grid.tsv"), field="aphi")

The projection, the contours' grids and levels, the colours of the axes
and of the regimes come from the C++ library (src/plot/), the code that
draws tilvex-plot's SVG; only the drawing is matplotlib's. matplotlib is
needed by the drawing functions only (Debian: python3-matplotlib; pip:
matplotlib), not by `import tilvex`.
"""

import warnings as _warnings

import numpy as _np

from . import _tilvex

__all__ = ["stereonet", "grid_map", "AXIS_COLOURS", "REGIME_COLOURS"]

# Axes 1, 2 and 3 as tilvex-plot draws them (Okabe-Ito: orange, green, blue).
AXIS_COLOURS = _tilvex.AXIS_COLOURS
# The regimes' colours of the map (the World Stress Map's), code -> "#rrggbb".
REGIME_COLOURS = {code: colour for code, colour, _ in _tilvex.REGIMES}
_REGIME_NAMES = {code: name for code, _, name in _tilvex.REGIMES}
_MARKERS = ("o", "s", "^")  # circle, square, triangle: axes 1, 2, 3
_SIGMA = ("\u03c3\u2081", "\u03c3\u2082", "\u03c3\u2083")  # σ₁ σ₂ σ₃
_NAMES = ("phi", "tr1", "pl1", "tr2", "pl2", "tr3", "pl3")


def _matplotlib(function):
    try:
        import matplotlib.collections
        import matplotlib.lines
        import matplotlib.patches
    except ImportError as e:
        raise ImportError(f"tilvex.plot.{function} needs matplotlib (Debian: python3-matplotlib; "
                          "pip: matplotlib)") from e
    return matplotlib


def _columns(data, names):
    """The named columns of a structured array, a DataFrame or a mapping, as
    numpy arrays."""
    return [_np.asarray(data[n]) for n in names]


def _solutions(data, grid):
    """The accepted solutions of one grid point as (n, 7) float32 (phi, tr1,
    pl1, tr2, pl2, tr3, pl3), and the Result's best fit if it is one."""
    if isinstance(data, _tilvex.Result):
        if grid is not None:
            raise ValueError("grid= selects the rows of read_accepted's array, not of a Result")
        return data.solutions, data.bounds
    if isinstance(data, _np.ndarray) and data.dtype.names is None:
        values = _np.asarray(data, dtype=_np.float32)
        if values.ndim != 2 or values.shape[1] != 7:
            raise ValueError(f"accepted solutions must have shape (n, 7), not {values.shape}")
        return values, None
    x, y, z, t = _columns(data, ("xgrid", "ygrid", "zgrid", "tgrid"))
    keep = _np.ones(len(x), dtype=bool)
    if grid is not None:
        gx, gy, gz, gt = (int(v) for v in grid)
        keep = (x == gx) & (y == gy) & (z == gz) & (t == gt)
        if not keep.any():
            raise ValueError(f"no accepted resample of grid point {gx} {gy} {gz} {gt}")
    else:
        points = set(zip(x.tolist(), y.tolist(), z.tolist(), t.tolist()))
        if len(points) > 1:
            raise ValueError(f"the accepted resamples are of {len(points)} grid points; "
                             "choose one with grid=(x, y, z, t)")
    values = _np.stack([c[keep] for c in _columns(data, _NAMES)], axis=1).astype(_np.float32)
    return values, None


def _best_axes(best):
    """(trend, plunge) of the best fit's three axes, from a mapping or row
    with tr1, pl1, ... (Result.bounds' (best, low, high) or plain values)
    or three (trend, plunge) pairs."""
    def value(v):
        return float(v[0]) if isinstance(v, (tuple, list)) else float(v)
    try:
        return [(value(best[f"tr{k}"]), value(best[f"pl{k}"])) for k in (1, 2, 3)]
    except (KeyError, IndexError, ValueError, TypeError):
        pairs = [(float(a), float(b)) for a, b in best]
        if len(pairs) != 3:
            raise ValueError(f"best must give three axes (trend, plunge), not {len(pairs)}") from None
        return pairs


def _net(ax, mpl, graticule):
    """The net: the graticule every 10 degrees, the primitive circle, a
    cross at the centre, N, E, S and W."""
    if graticule:
        s = _np.linspace(0.0, _np.pi, 91)
        lines = []
        for step in range(1, 18):
            a = _np.radians(10.0 * step)
            directions = []
            if step <= 9:  # great circles through N and S
                for side in (1.0, -1.0) if step < 9 else (1.0,):
                    directions.append((_np.cos(s), _np.sin(s) * _np.cos(a) * side, _np.sin(s) * _np.sin(a)))
            if step != 9:  # small circles about the N-S line
                directions.append((_np.full_like(s, _np.cos(a)), _np.sin(a) * _np.cos(s), _np.sin(a) * _np.sin(s)))
            for n, e, d in directions:
                trend = _np.degrees(_np.arctan2(e, n))
                plunge = _np.degrees(_np.arcsin(_np.clip(d, 0.0, 1.0)))
                east, north = _tilvex._net_points(trend, plunge)
                lines.append(_np.column_stack([east, north]))
        ax.add_collection(mpl.collections.LineCollection(lines, colors="#c8c8c8", linewidths=0.6, zorder=0,
                                                         gid="graticule"))
    ax.add_patch(mpl.patches.Circle((0, 0), 1.0, fill=False, edgecolor="black", linewidth=1.2, zorder=1,
                                    gid="primitive"))
    ax.plot([-0.024, 0.024], [0, 0], color="black", linewidth=1, zorder=1)
    ax.plot([0, 0], [-0.024, 0.024], color="black", linewidth=1, zorder=1)
    bold = dict(fontweight="bold", zorder=5)
    ax.text(0, 1.03, "N", ha="center", va="bottom", **bold)
    ax.text(1.03, 0, "E", ha="left", va="center", **bold)
    ax.text(0, -1.03, "S", ha="center", va="top", **bold)
    ax.text(-1.03, 0, "W", ha="right", va="center", **bold)
    ax.set_xlim(-1.15, 1.15)
    ax.set_ylim(-1.15, 1.15)
    ax.set_aspect("equal")
    ax.set_axis_off()


def stereonet(ax, result_or_accepted, best=None, contours="regions", levels=None, sigma_names=False, grid=None,
              graticule=True, legend=True):
    """Draws the accepted resamples' axes on a lower-hemisphere equal-area
    net into the matplotlib Axes `ax`, as tilvex-plot draws its stereonet:
    the net (radius 1 in data coordinates, east to the right, north up;
    the 10 degree graticule unless graticule=False; N, E, S, W), each axis
    of each resample as a marker (axis 1 an orange circle, axis 2 a green
    square, axis 3 a blue triangle, AXIS_COLOURS; the first MAX_MARKERS =
    3000 resamples only, beyond them the contours alone), the contours of
    each axis with 10 or more resamples (black over the markers, else in
    the axis's colour), and the best fit as large outlined markers.

    result_or_accepted: a Result (tilvex.analyse, analyse_file: its
    solutions, and its best fit unless best is given), the structured
    array or DataFrame of read_accepted (one grid point's rows, or those
    of grid=(x, y, z, t)), or an array (n, 7) of phi, tr1, pl1, tr2, pl2,
    tr3, pl3. best: the best fit's axes, as a mapping or row with tr1,
    pl1, ..., pl3 (a read_table row, Result.bounds) or three (trend,
    plunge) pairs in degrees; False for none.

    contours: "regions" (the smallest regions holding levels per cent of
    each axis, 50, 90 and 95 by default), "density" (the smoothed density
    in multiples of the uniform) or "sigma" (Kamb's counting circle, in
    sigma); for both, levels are the density's, a handful from the peak by
    default. The grids and levels are computed by the library exactly as
    for the SVG; matplotlib contours the grid. sigma_names calls the axes
    σ₁, σ₂, σ₃ in the legend.

    Returns a dict: count (resamples), markers (a PathCollection per
    axis, None where not drawn), contours (a list of (axis 1 to 3,
    levels as the library gives them, ContourSet)), best (a
    PathCollection per axis), method (the legend's lines on the
    contours). Raises ImportError without matplotlib, ValueError for a
    grid with no row or rows of several grid points without grid=."""
    mpl = _matplotlib("stereonet")
    values, bounds = _solutions(result_or_accepted, grid)
    if best is None:
        best = bounds
    given = [] if levels is None else [float(v) for v in levels]
    numbers = _tilvex._stereonet(_np.ascontiguousarray(values), contours, given)
    _net(ax, mpl, graticule)
    drawn = {"count": numbers["count"], "markers": [None, None, None], "contours": [], "best": [],
             "method": list(numbers["method"])}
    markers = numbers["count"] <= _tilvex.MAX_MARKERS
    names = _SIGMA if sigma_names else ("axis 1", "axis 2", "axis 3")
    if markers:
        for k, at in enumerate(numbers["markers"]):
            drawn["markers"][k] = ax.scatter(at[:, 0], at[:, 1], s=22, marker=_MARKERS[k], c=AXIS_COLOURS[k],
                                             alpha=0.5, linewidths=0, zorder=2, gid=f"axis{k + 1}", label=names[k])
    for k, grid_values, at in numbers["contours"]:
        if not at:
            continue
        size = grid_values.shape[0]
        nodes = _np.linspace(-1.0, 1.0, size)
        ordered = sorted(set(at))
        colour = "black" if markers else AXIS_COLOURS[k]
        with _warnings.catch_warnings():  # a level beyond the grid's values draws nothing, as in the SVG
            _warnings.simplefilter("ignore")
            lines = ax.contour(nodes, nodes, grid_values[::-1], levels=ordered, colors=colour,
                               linewidths=[0.6 + 0.3 * i for i in range(len(ordered))], zorder=3)
        circle = mpl.patches.Circle((0, 0), 1.0, transform=ax.transData)
        # A ContourSet is a Collection from matplotlib 3.8; before, it held one a level.
        for c in [lines] if isinstance(lines, mpl.collections.Collection) else lines.collections:
            c.set_clip_path(circle)
            c.set_gid(f"contours{k + 1}")
        drawn["contours"].append((k + 1, list(at), lines))
    if best is not None and best is not False:
        trends, plunges = zip(*_best_axes(best))
        east, north = _tilvex._net_points(_np.array(trends), _np.array(plunges))
        for k in range(3):
            if _np.isfinite(east[k]):
                drawn["best"].append(ax.scatter([east[k]], [north[k]], s=22 * 2.4 ** 2, marker=_MARKERS[k],
                                                c=AXIS_COLOURS[k], edgecolors="black", linewidths=1.5, zorder=4,
                                                gid=f"best{k + 1}"))
    if legend:
        handles = [mpl.lines.Line2D([], [], linestyle="", marker=_MARKERS[k], color=AXIS_COLOURS[k], label=names[k])
                   for k in range(3)]
        if drawn["best"]:
            handles.append(mpl.lines.Line2D([], [], linestyle="", marker="o", markerfacecolor="white",
                                            markeredgecolor="black", markersize=9, label="best fit (large)"))
        ax.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.0, 1.0), frameon=False,
                  title=f"{numbers['count']} accepted resamples" + ("" if markers else " (density only)"))
    return drawn


def _slice_rows(table, slice):
    z, t = _columns(table, ("zgrid", "tgrid"))
    slices = sorted(set(zip(z.tolist(), t.tolist())))
    if not slices:
        raise ValueError("the table holds no rows")
    if slice is None:
        if len(slices) > 1:
            listed = ", ".join(f"{a} {b}" for a, b in slices)
            raise ValueError(f"the table holds {len(slices)} slices; choose one with slice=(z, t): {listed}")
        slice = slices[0]
    sz, st = (int(v) for v in slice)
    keep = (z == sz) & (t == st)
    if not keep.any():
        raise ValueError(f"no point in slice {sz} {st}")
    return _np.flatnonzero(keep)


def grid_map(ax, table, slice=None, bars="shmax", field=None, legend=True):
    """Draws one z/t slice of tilvex-grid's table (read_table's array or
    DataFrame) into the matplotlib Axes `ax`, as tilvex-plot --map draws it:
    at each point (xgrid east, ygrid north, in data coordinates, a cell of
    1 a point) a bar of half-length 0.42 along the azimuth of SHmax,
    clockwise from north, coloured by regime (REGIME_COLOURS, the World
    Stress Map's), and its range from shmax_low clockwise to shmax_high as
    translucent wedges; an open circle where SHmax is undefined
    (horizontal stress isotropic), a grey dot where the table has no
    stress columns, a grey cross for a failed point.

    slice: (z, t), needed where the table holds several. bars="axis1":
    the horizontal projection of axis 1 instead (its trend, half-length
    0.42 cos(plunge), the trend range as wedges, a disc where it spans 180
    degrees or more). field: "aphi" or "phi" shades each point's cell by
    the library's colour scale at half opacity.

    Returns a dict of the artists: bars (a LineCollection, a segment a
    bar from the azimuth + 180 end to the azimuth end, rows in table
    order), wedges (a PatchCollection, two sectors a point, each from
    the range's clockwise end counter-clockwise to its start), discs (of
    bars="axis1"), isotropic, no_stress, failed, field (each None where
    there is none). Raises ImportError without matplotlib, ValueError for
    a slice with no point, a table of several slices without slice=, a
    regime none of NF, NS, SS, TS, TF, U."""
    mpl = _matplotlib("grid_map")
    if bars not in ("shmax", "axis1"):
        raise ValueError(f'bars must be "shmax" or "axis1", not {bars!r}')
    if field not in (None, "aphi", "phi"):
        raise ValueError(f'field must be None, "aphi" or "phi", not {field!r}')
    rows = _slice_rows(table, slice)
    names = ("xgrid", "ygrid", "status", "regime", "shmax", "shmax_low", "shmax_high", "aphi", "phi", "tr1",
             "tr1_low", "tr1_high", "pl1")
    c = {n: v[rows] for n, v in zip(names, _columns(table, names))}
    x, y = c["xgrid"].astype(float), c["ygrid"].astype(float)
    ok = _np.array([s == "ok" for s in c["status"]], dtype=bool)
    bar_segments, bar_colours, wedges, wedge_colours, discs, disc_colours = [], [], [], [], [], []
    isotropic, isotropic_colours, no_stress, crosses = [], [], [], []
    shown = set()
    for i in range(len(rows)):
        cx, cy = x[i], y[i]
        if not ok[i]:
            crosses += [[(cx - 0.25, cy + 0.25), (cx + 0.25, cy - 0.25)],
                        [(cx - 0.25, cy - 0.25), (cx + 0.25, cy + 0.25)]]
            continue
        regime = str(c["regime"][i])
        if regime and regime not in REGIME_COLOURS:
            raise ValueError(f"grid point {int(cx)} {int(cy)} has regime '{regime}', none of NF, NS, SS, TS, TF, U")
        colour = REGIME_COLOURS.get(regime, _tilvex.NO_REGIME_COLOUR)
        if bars == "axis1":
            trend, low, high = (float(c[n][i]) for n in ("tr1", "tr1_low", "tr1_high"))
            half = 0.42 * abs(_np.cos(_np.radians(float(c["pl1"][i]))))
            if _np.isfinite(low) and _np.isfinite(high) and _np.isfinite(half) and high > low:
                if high - low >= 180.0:  # every azimuth
                    discs.append(mpl.patches.Circle((cx, cy), half))
                    disc_colours.append(colour)
                else:
                    for flip in (0.0, 180.0):
                        wedges.append(mpl.patches.Wedge((cx, cy), half, 90.0 - high - flip, 90.0 - low - flip))
                        wedge_colours.append(colour)
            azimuth = trend
        else:
            if not regime:  # a table without the stress columns
                no_stress.append((cx, cy))
                continue
            azimuth, low, high = (float(c[n][i]) for n in ("shmax", "shmax_low", "shmax_high"))
            half = 0.42
            if not _np.isfinite(azimuth):  # horizontal stress isotropic
                isotropic.append(mpl.patches.Circle((cx, cy), 0.25))
                isotropic_colours.append(colour)
                shown.add(regime)
                continue
            if _np.isfinite(low) and _np.isfinite(high) and low != high:
                width = high - low if high > low else high - low + 180.0
                for flip in (0.0, 180.0):
                    wedges.append(mpl.patches.Wedge((cx, cy), half, 90.0 - low - width - flip, 90.0 - low - flip))
                    wedge_colours.append(colour)
        if _np.isfinite(azimuth) and _np.isfinite(half):
            a = _np.radians(azimuth)
            dx, dy = half * _np.sin(a), half * _np.cos(a)
            bar_segments.append([(cx - dx, cy - dy), (cx + dx, cy + dy)])
            bar_colours.append(colour)
        shown.add(regime)
    drawn = dict.fromkeys(("bars", "wedges", "discs", "isotropic", "no_stress", "failed", "field"))
    if field is not None:
        values = c[field].astype(float)
        keep = ok & _np.isfinite(values)
        scale = _tilvex._aphi_colours if field == "aphi" else _tilvex._phi_colours
        cells = [mpl.patches.Rectangle((cx - 0.5, cy - 0.5), 1.0, 1.0) for cx, cy in zip(x[keep], y[keep])]
        drawn["field"] = ax.add_collection(mpl.collections.PatchCollection(
            cells, facecolors=scale(values[keep].tolist()), edgecolors="none", alpha=0.5, zorder=0, gid="field"))
    if wedges:
        drawn["wedges"] = ax.add_collection(mpl.collections.PatchCollection(
            wedges, facecolors=wedge_colours, edgecolors="none", alpha=0.35, zorder=1, gid="wedges"))
    if discs:
        drawn["discs"] = ax.add_collection(mpl.collections.PatchCollection(
            discs, facecolors=disc_colours, edgecolors="none", alpha=0.35, zorder=1, gid="discs"))
    if bar_segments:
        drawn["bars"] = ax.add_collection(mpl.collections.LineCollection(
            bar_segments, colors=bar_colours, linewidths=2.5, capstyle="round", zorder=2, gid="bars"))
    if isotropic:
        drawn["isotropic"] = ax.add_collection(mpl.collections.PatchCollection(
            isotropic, facecolors="none", edgecolors=isotropic_colours, linewidths=1.5, zorder=2, gid="isotropic"))
    if no_stress:
        drawn["no_stress"] = ax.scatter(*zip(*no_stress), s=9, c=_tilvex.NO_REGIME_COLOUR, zorder=2, gid="no-stress")
    if crosses:
        drawn["failed"] = ax.add_collection(mpl.collections.LineCollection(
            crosses, colors=_tilvex.CROSS_GREY, linewidths=2, zorder=2, gid="failed"))
    ax.set_xlim(x.min() - 0.5, x.max() + 0.5)
    ax.set_ylim(y.min() - 0.5, y.max() + 0.5)
    ax.set_aspect("equal")
    ax.set_xlabel("xgrid (east)")
    ax.set_ylabel("ygrid (north)")
    if legend:
        handles = [mpl.lines.Line2D([], [], color=colour, linewidth=3, label=f"{code} {_REGIME_NAMES[code]}")
                   for code, colour in REGIME_COLOURS.items() if code in shown]
        if drawn["isotropic"] is not None:
            handles.append(mpl.lines.Line2D([], [], linestyle="", marker="o", markerfacecolor="none",
                                            markeredgecolor="black", label="no SHmax: horizontal stress isotropic"))
        if drawn["failed"] is not None:
            handles.append(mpl.lines.Line2D([], [], linestyle="", marker="x", color=_tilvex.CROSS_GREY,
                                            label="failed point"))
        if handles:
            ax.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.0, 1.0), frameon=False)
    return drawn
