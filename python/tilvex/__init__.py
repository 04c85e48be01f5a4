"""tilvex for Python: the confidence ranges of a bootstrapped tensor solution,
exact to the bit, from numpy arrays or from resample results files.

    >>> import numpy as np, tilvex
    >>> r = tilvex.analyse(best, resamples, 95.0)     # best: 13 floats, resamples: (n, 13)
    >>> r.count, r.threshold, r.bounds["tr1"]         # bounds: (best, low, high), degrees
    >>> tilvex.format_summary(r)                      # the line tilvex appends to output_file
    >>> r.shmax, r.regime, r.aphi                     # the stress quantities, as in tilvex-grid's table
    >>> best, resamples = tilvex.read_vrin("run.vrin")  # a file's records, as the program reads them
    >>> tilvex.read_dataset("grid.tsv")               # a grid as an xarray.Dataset (or "grid.nc")
    >>> tilvex.plot.stereonet(ax, r)                  # tilvex-plot's figures in matplotlib Axes

A record is 13 numbers: the six tensor components s11 s12 s13 s22 s23 s33,
then phi and the trend and plunge (degrees) of axes 1, 2 and 3. Everything
is computed in single precision, as the program computes it: float32 input
gives bit for bit what the program gives on a file whose lines read as those
floats; float64 input is first rounded to the nearest float32, which can
differ from reading a decimal text straight to float32.

The analysis releases the GIL, so a thread pool over grid points runs on
every core.
"""

import os as _os
import warnings as _warnings
from typing import Sequence as _Sequence, Tuple as _Tuple, Union as _Union

import numpy as _np

from . import _tilvex, plot
from ._dataset import read_dataset
from ._errors import TilvexError, TilvexFileNotFoundError, TilvexOSError, TilvexWarning
from ._tilvex import Result, format_summary

__all__ = ["Result", "TilvexError", "TilvexOSError", "TilvexFileNotFoundError", "TilvexWarning", "analyse",
           "analyse_file", "analyse_bytes", "format_summary", "format_accepted", "read_vrin", "read_table",
           "read_accepted", "read_dataset", "plot", "VALUE_COLUMNS"]
__version__ = _tilvex.__version__

# The float columns of tilvex-grid's table: threshold, then phi, phi_low,
# phi_high, tr1, ... pl3_high (the table's columns come from the library).
VALUE_COLUMNS = _tilvex.VALUE_COLUMNS


def analyse(best: _Sequence[float], resamples, level: float) -> Result:
    """Analyses a bootstrap held in memory.

    best: 13 numbers (six tensor components, phi, three trend/plunge pairs in
    degrees). resamples: an array of shape (n, 13), float32 (float64 is
    rounded to the nearest float32). level: the confidence level in per
    cent, such as 95; a NaN or None level is refused as the program
    refuses it (TilvexError). A level at or below 1 per cent (0.95 is read
    as 0.95 per cent, not 95), or above 100, is taken as given and warned
    of as the programs warn of it (TilvexWarning, code "level").

    Returns a Result: count (n), threshold (float32 similarity, nan without
    resamples), accepted (int64 indices of the accepted resamples, shape
    (m,)), solutions (their phi and trend/plunge pairs as given, float32,
    shape (m, 7)), bounds (name -> (best, low, high) for phi, tr1, pl1, tr2,
    pl2, tr3, pl3; degrees, not folded into 0 to 360), and the stress
    quantities of docs/stress.md as tilvex-grid's table gives them: shmax
    (best, low, high), the azimuth of SHmax in degrees, each folded into
    [0, 180) (the range runs clockwise from low to high, so across north
    low is the greater; nan where the azimuth is undefined); regime (NF,
    NS, SS, TS, TF or U) and regime_share (the share of the accepted
    resamples in it, nan when none was accepted); aphi (best, low, high),
    the regime index A-phi. They are computed in double from the best fit
    and the accepted solutions and rounded to float32, so that they equal
    the table's values; StressSummary in C++ gives SHmax's best in
    (-90, 90] and its low and high unfolded, around it.
    """
    b = _np.asarray(best, dtype=_np.float32)
    if b.shape != (13,):
        raise ValueError(f"best must have shape (13,), not {b.shape}")
    r = _np.asarray(resamples)
    if r.ndim != 2 or r.shape[1] != 13:
        if not (r.ndim == 1 and r.size == 0):
            raise ValueError(f"resamples must have shape (n, 13), not {r.shape}")
        r = r.reshape(0, 13)
    value, text = _level(level)
    result = _tilvex._analyse_records(b, _np.ascontiguousarray(r, dtype=_np.float32), value, text)
    _warn_level(value, text)
    return result


def analyse_file(path: _Union[str, _os.PathLike], level: float) -> Result:
    """Analyses a resample results file exactly as the program reads it.
    Raises TilvexError with the program's message where it would refuse the
    file ("unable to open PATH", "unable to read PATH") or the level (a NaN
    or None level: the usage line); a file that cannot be opened or read
    raises TilvexOSError, also an OSError with its errno
    (TilvexFileNotFoundError, also a FileNotFoundError, where there is no
    such file). The level is warned of as in analyse(). What the program
    warns of in the file (a record cut short, swapped lines, phi or a
    plunge out of range, fields that do not read as numbers, ...) is
    issued as a TilvexWarning, one a finding, with the program's words."""
    value, text = _level(level)
    result, notes = _tilvex._analyse_file(_os.fspath(path), value, text)
    _warn_level(value, text)
    _warn(notes)
    return result


def analyse_bytes(data: bytes, level: float, name: str = "<bytes>") -> Result:
    """Analyses the bytes of a resample results file, as analyse_file does
    (the same refusals and warnings); `name` stands for the file's name in
    messages."""
    value, text = _level(level)
    result, notes = _tilvex._analyse_bytes(bytes(data), value, name, text)
    _warn_level(value, text)
    _warn(notes)
    return result


def read_vrin(path: _Union[str, _os.PathLike]) -> _Tuple[_np.ndarray, _np.ndarray]:
    """Reads a resample results file into the arrays analyse() takes:
    (best, resamples), float32 of shapes (13,) and (n, 13), each record the
    six tensor components, phi and the three trend/plunge pairs.

    The file is read by the program's own reader, as the program reads it:
    n counts the records of its first pass; a field that does not parse
    keeps the value it held before (the previous record's, 0 in the first
    resample), a missing last solution line is read from its own tensor
    line, and so on. So analyse(*read_vrin(path), level) gives what
    analyse_file(path, level) gives on a file whose lines parse completely.
    Where fields do not parse it can differ: the program reads the tensors
    twice, and where the first resample's tensor line is incomplete the
    two readings differ (the arrays hold the second, with which the program
    accepts; its threshold comes from the first). The refusals are
    analyse_file's (TilvexError, TilvexOSError), and so are the warnings of
    the file's health (TilvexWarning), unparsed fields among them."""
    best, resamples, notes = _tilvex._read_vrin(_os.fspath(path))
    _warn(notes)
    return best, resamples


def _warn(notes):
    for code, line, count, text in notes:
        _warnings.warn(TilvexWarning(text, code, line, count), stacklevel=3)


def _warn_level(value, text):
    """What the programs say on standard error of a level at or below 1 per
    cent or above 100 (nothing else), as a TilvexWarning."""
    note = _tilvex._level_note(value, text)
    if note:
        _warnings.warn(TilvexWarning(note, "level"), stacklevel=3)


def _level(level):
    """The confidence level as the program takes it, a float32, and its text
    for a refusal or a warning: NaN, None or what is not a number is
    refused as the program refuses "nan" (TilvexError with the usage line,
    reason "confidence_level 'nan' is not a number")."""
    try:
        value = float(_np.float32(level)) if level is not None else float("nan")
    except (TypeError, ValueError):
        value = float("nan")
    return value, str(level)


def format_accepted(result: Result, grid: _Tuple[int, int, int, int]) -> str:
    """The accepted-resample lines the program appends to output_file2 for
    grid indices (xgrid, ygrid, zgrid, tgrid): four ints."""
    wanted = "grid must be four ints (xgrid, ygrid, zgrid, tgrid)"
    try:
        values = tuple(grid)
    except TypeError:
        raise TypeError(f"{wanted}, not {type(grid).__name__}") from None
    if len(values) != 4:
        raise ValueError(f"{wanted}, not {len(values)} value{'' if len(values) == 1 else 's'}")
    x, y, z, t = (int(v) for v in values)
    return _tilvex._format_accepted(result, x, y, z, t)


def _pandas(function):
    try:
        import pandas
    except ImportError as e:
        raise ImportError(f"{function}(..., pandas=True) needs pandas (Debian: python3-pandas; pip: pandas)") from e
    return pandas


def read_table(path: _Union[str, _os.PathLike], pandas: bool = False):
    """Reads the table tilvex-grid writes (--table): one row per point.

    Returns a numpy structured array with the columns input (str objects),
    xgrid, ygrid, zgrid, tgrid (int32), status (str objects: "ok" or the
    point's message), n and accepted (float64, nan for a failed point) and
    the float32 value columns of VALUE_COLUMNS (degrees for trends and
    plunges, not folded; nan where there is no value), the stress columns
    shmax, shmax_low, shmax_high (degrees in [0, 180), the range clockwise
    from low to high), regime (str: NF, NS, SS, TS, TF or U; "nan" for a
    failed point, empty in an older table), regime_share, aphi, aphi_low,
    aphi_high (float32), then notes (str objects: the codes of the input's
    health notes, ';'-separated, empty when clean or in a table of the
    older 30 columns). The floats read back exactly as the program
    computed them, on every machine.

    With pandas=True, a pandas DataFrame of the same columns and dtypes but
    n and accepted, which are pandas' nullable integers (Int64, <NA> for a
    failed point); input, status, regime and notes hold str objects.

    Reads only the committed part of the file. Its memory is within a few
    times the file's size, whatever the lengths of the names. A file that
    cannot be read raises TilvexOSError (an OSError), a row that is not
    of the table's format ValueError."""
    columns = _tilvex._read_table(_os.fspath(path))
    names = _table_names()  # input, the four indices, status, n, accepted, VALUE_COLUMNS, stress, notes
    if pandas:
        pd = _pandas("read_table")
        frame = pd.DataFrame({k: columns[k] for k in names})
        for k in ("n", "accepted"):
            frame[k] = pd.array(columns[k], dtype="Int64")
        return frame
    # The names and statuses as str objects: each takes its own length, where
    # a fixed-width string column would take the longest for every row.
    dtype = ([(names[0], object)] + [(g, _np.int32) for g in names[1:5]]
             + [(names[5], object), (names[6], _np.float64), (names[7], _np.float64)]
             + [(c, _np.float32) for c in VALUE_COLUMNS]
             + [(c, object if c == "regime" else _np.float32) for c in names[len(VALUE_COLUMNS) + 8:-1]]
             + [(names[-1], object)])
    table = _np.empty(len(columns[names[0]]), dtype=dtype)
    for name in names:
        table[name] = columns[name]
    return table


def _table_names():
    return _tilvex.TABLE_COLUMNS


def read_accepted(path: _Union[str, _os.PathLike], pandas: bool = False):
    """Reads output_file2: a numpy structured array with one row per
    accepted resample, columns xgrid, ygrid, zgrid, tgrid (int32) and phi,
    tr1, pl1, tr2, pl2, tr3, pl3 (float32, as printed: six decimals); with
    pandas=True, a pandas DataFrame of the same columns and dtypes.
    Reads only the committed part of the file."""
    grid, values = _tilvex._read_accepted(_os.fspath(path))
    names = VALUE_COLUMNS[1::3]  # phi, tr1, pl1, tr2, pl2, tr3, pl3
    indices = _table_names()[1:5]  # xgrid, ygrid, zgrid, tgrid
    if pandas:
        pd = _pandas("read_accepted")
        return pd.DataFrame({**{g: grid[:, k] for k, g in enumerate(indices)},
                             **{n: values[:, k] for k, n in enumerate(names)}})
    out = _np.empty(len(grid), dtype=[(g, _np.int32) for g in indices] + [(n, _np.float32) for n in names])
    for k, g in enumerate(indices):
        out[g] = grid[:, k]
    for k, n in enumerate(names):
        out[n] = values[:, k]
    return out
