"""A grid's results as an xarray.Dataset (docs/netcdf.md), from the netCDF
file tilvex-grid or tilvex-netcdf writes or from the table tilvex-grid
writes."""

import datetime as _datetime
import os as _os

import numpy as _np

from . import _tilvex

# The codes of the regime variable, in order of their flag values 0 to 5.
_REGIMES = ("NF", "NS", "SS", "TS", "TF", "U")

# The dense grid of a table is refused when it would hold more than this
# many cells a point, beyond a million (docs/netcdf.md: every x and y from
# the least to the greatest), before it takes the machine's memory.
_CELLS_PER_POINT = 16
_CELLS_FREE = 1 << 20


def read_dataset(path):
    """Reads a grid's results as an xarray.Dataset, the layout of
    docs/netcdf.md: dimensions (t, z, y, x), x and y every index from the
    least to the greatest found, z and t those found, ascending.

    `path` is a netCDF file (as tilvex-grid --netcdf or tilvex-netcdf
    writes it; told by its first bytes, "\\x89HDF" or "CDF"), opened with
    xarray, loaded into memory and closed; or a table of tilvex-grid
    (--table), read with read_table and laid out as the file would be, so
    that both give the same variables, dtypes and attributes as xarray
    decodes them from the file: status and regime (bytes with fill -1 in
    the file) as float32 codes, nan where there is no point (and regime
    nan for a failed point); n and accepted (int64 with fill -1) as
    float64, nan for a failed point or no point; the float variables
    float32 with nan; input and notes str objects, "" where there is no
    point. From a table, the trends are folded into [0, 360) exactly as
    the C++ writer folds them (in double, then rounded once; a value that
    rounds up to 360 is 0), every other float is the table's; the global
    attributes are Conventions, title, source (tilvex.read_dataset and
    the version), history and table (the path).

    Needs xarray (Debian: python3-xarray; pip: xarray), and for a netCDF
    file one of its netCDF backends (Debian: python3-netcdf4). A table
    whose points are so sparse that the dense grid would take more than 16
    cells a point (beyond a million cells) is refused with ValueError, as
    is a table with two rows at the same grid indices.
    """
    try:
        import xarray
    except ImportError as e:
        raise ImportError("read_dataset needs xarray (Debian: python3-xarray; pip: xarray)") from e
    path = _os.fspath(path)
    try:
        with open(path, "rb") as f:
            magic = f.read(4)
    except OSError:
        magic = b""  # the table's reader says why, in the program's words
    if magic.startswith(b"\x89HDF") or magic.startswith(b"CDF"):
        return _from_netcdf(xarray, path, magic)
    return _from_table(xarray, path)


def _from_netcdf(xarray, path, magic):
    engines = xarray.backends.list_engines()
    usable = ("netcdf4", "h5netcdf") if magic.startswith(b"\x89HDF") else ("netcdf4", "scipy", "h5netcdf")
    if not any(e in engines for e in usable):
        raise ImportError(f"read_dataset of the netCDF file {path} needs netCDF4 for xarray "
                          "(Debian: python3-netcdf4; pip: netCDF4)")
    with xarray.open_dataset(path) as ds:
        ds.load()
    return ds


def _index_axes(columns):
    """The coordinates: x and y every index from the least to the greatest,
    z and t those found, each int32 and ascending; and each row's cell."""
    x, y, z, t = (_np.asarray(columns[k], dtype=_np.int64) for k in ("xgrid", "ygrid", "zgrid", "tgrid"))
    if len(x) == 0:
        empty = _np.zeros(0, _np.int32)
        return (empty,) * 4, _np.zeros(0, _np.int64)
    xs = _np.arange(x.min(), x.max() + 1, dtype=_np.int64)
    ys = _np.arange(y.min(), y.max() + 1, dtype=_np.int64)
    zs, ts = _np.unique(z), _np.unique(t)
    cell = ((_np.searchsorted(ts, t) * len(zs) + _np.searchsorted(zs, z)) * len(ys) + (y - ys[0])) * len(xs) \
        + (x - xs[0])
    return tuple(a.astype(_np.int32) for a in (ts, zs, ys, xs)), cell


def _from_table(xarray, path):
    columns = _tilvex._read_table(path)
    (ts, zs, ys, xs), cell = _index_axes(columns)
    shape = (len(ts), len(zs), len(ys), len(xs))
    cells = len(ts) * len(zs) * len(ys) * len(xs)
    rows = len(cell)
    if cells > _CELLS_PER_POINT * rows + _CELLS_FREE:
        raise ValueError(f"{path}: its {rows} points span {len(xs)} x {len(ys)} x {len(zs)} x {len(ts)} "
                         f"cells (x, y, z, t), too sparse a grid to lay out whole")
    order = _np.argsort(cell, kind="stable")
    same = _np.flatnonzero(cell[order][1:] == cell[order][:-1])
    if len(same):
        a, b = order[same[0]], order[same[0] + 1]
        at = ", ".join(str(columns[k][a]) for k in ("xgrid", "ygrid", "zgrid", "tgrid"))
        raise ValueError(f"{path}: rows {a + 1} and {b + 1} are both at grid indices ({at})")

    def laid_out(values, dtype, fill):
        out = _np.full(cells, fill, dtype=dtype)
        out[cell] = values
        return out.reshape(shape)

    dims = ("t", "z", "y", "x")
    nan = _np.float32("nan")
    variables = {}

    def add(name, values, long_name, units=None, encoding=None, **attrs):
        attributes = {"long_name": long_name}
        if units is not None:
            attributes["units"] = units
        attributes.update(attrs)
        v = xarray.Variable(dims, values, attributes)
        v.encoding = encoding if encoding is not None else {"_FillValue": nan}
        variables[name] = v

    status = _np.array([0 if s == "ok" else 1 for s in columns["status"]], dtype=_np.float32)
    add("status", laid_out(status, _np.float32, nan), "status of the point", encoding={"dtype": "int8", "_FillValue": -1},
        flag_values=_np.array([0, 1], _np.int8), flag_meanings="ok failed")
    add("n", laid_out(columns["n"], _np.float64, _np.nan), "number of resample records", "1",
        {"dtype": "int64", "_FillValue": -1})
    add("accepted", laid_out(columns["accepted"], _np.float64, _np.nan), "number of accepted resamples", "1",
        {"dtype": "int64", "_FillValue": -1})
    add("threshold", laid_out(columns["threshold"], _np.float32, nan), "similarity threshold", "1")
    for name in _tilvex.VALUE_COLUMNS[1:]:
        quantity, _, end = name.partition("_")
        values = columns[name]
        if quantity == "phi":
            what, units = "shape ratio phi", "1"
        else:
            what = f"{'trend' if quantity[:2] == 'tr' else 'plunge'} of axis {quantity[2]}"
            units = "degree"
            if quantity[:2] == "tr":
                values = _tilvex._folded(values, 360.0)
        add(name, laid_out(values, _np.float32, nan), _bound(what, end), units)
    for name in ("shmax", "shmax_low", "shmax_high"):
        add(name, laid_out(columns[name], _np.float32, nan), _bound("azimuth of SHmax", name[6:]), "degree")
    code = {r: _np.float32(k) for k, r in enumerate(_REGIMES)}
    regime = _np.array([code.get(r, nan) for r in columns["regime"]], dtype=_np.float32)
    add("regime", laid_out(regime, _np.float32, nan), "faulting regime", encoding={"dtype": "int8", "_FillValue": -1},
        flag_values=_np.arange(6, dtype=_np.int8), flag_meanings=" ".join(_REGIMES))
    add("regime_share", laid_out(columns["regime_share"], _np.float32, nan),
        "share of the accepted resamples in the regime", "1")
    for name in ("aphi", "aphi_low", "aphi_high"):
        add(name, laid_out(columns[name], _np.float32, nan), _bound("regime index A-phi", name[5:]), "1")
    add("input", laid_out(_np.array(columns["input"], dtype=object), object, ""), "resample results file",
        encoding={})
    add("notes", laid_out(_np.array(columns["notes"], dtype=object), object, ""), "health notes of the input",
        encoding={})

    coordinates = {}
    for name, values in zip(dims, (ts, zs, ys, xs)):
        coordinates[name] = xarray.Variable(name, values, {"long_name": f"grid index {name}", "axis": name.upper()})
    now = _datetime.datetime.now(_datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    attributes = {"Conventions": "CF-1.8", "title": "tilvex-grid results",
                  "source": f"tilvex.read_dataset {_tilvex.__version__}",
                  "history": f"{now} tilvex.read_dataset {path}", "table": path}
    return xarray.Dataset(variables, coordinates, attributes)


def _bound(what, end):
    """The long name of a value ("trend of axis 1") or of an end of its
    range ("low" or "high")."""
    return {"": what, "low": f"lower bound of the {what}", "high": f"upper bound of the {what}"}[end]
