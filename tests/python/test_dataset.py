"""tilvex.read_dataset: a grid's table laid out as docs/netcdf.md lays out
the netCDF file, and the netCDF file read as xarray decodes it; both give
the same dataset.

Run by `make python-test`, as test_tilvex.py."""

import os
import subprocess
import sys
import warnings
from pathlib import Path

import numpy as np
import pytest

import tilvex

xr = pytest.importorskip("xarray")

GRID = os.environ["TILVEX_GRID"]
GENERATE = os.environ["TILVEX_GENERATE"]
NAMES = tilvex._tilvex.TABLE_COLUMNS
TRENDS = [f"tr{k}{end}" for k in (1, 2, 3) for end in ("", "_low", "_high")]


def table_text(rows):
    """A table of these rows (dicts of column texts; every value not given
    is nan, the notes empty)."""
    lines = ["\t".join(NAMES)]
    for row in rows:
        full = dict({n: "nan" for n in NAMES}, notes="")
        full.update({k: str(v) for k, v in row.items()})
        lines.append("\t".join(full[n] for n in NAMES))
    return "\n".join(lines) + "\n"


def folded(values):
    """Trends folded into [0, 360) as the C++ writer folds them: in double,
    a = fmod(v, 360), a += 360 if a < 0, rounded to float32, 360 is 0."""
    with np.errstate(invalid="ignore"):
        a = np.fmod(np.asarray(values, np.float32).astype(np.float64), 360.0)
    a = np.where(a < 0, a + 360.0, a).astype(np.float32)
    return np.where(a == np.float32(360), np.float32(0), a)


def bits(a):
    return np.asarray(a, np.float32).tobytes()


# Three points over two z levels, one failed; the cells between them are
# gaps. Axis 1's range crosses north (-20 to 5), axis 2's values fold from
# beyond 360 and from just below 0 (to 360 in float32, so 0).
POINTS = [
    dict(input="a.vrin", xgrid=0, ygrid=0, zgrid=0, tgrid=7, status="ok", n=100, accepted=95, threshold=0.9,
         phi=0.5, phi_low=0.4, phi_high=0.6, tr1=-10, tr1_low=-20, tr1_high=5, pl1=10, pl1_low=5, pl1_high=15,
         tr2=370, tr2_low=-1e-06, tr2_high=720.5, pl2=5, pl2_low=3, pl2_high=6, tr3=240, tr3_low=-0.0,
         tr3_high=359.99997, pl3=78, pl3_low=75, pl3_high=80, shmax=170, shmax_low=160, shmax_high=10, regime="SS",
         regime_share=0.75, aphi=1.4, aphi_low=1.3, aphi_high=1.6, notes="cut;phi"),
    dict(input="b.vrin", xgrid=2, ygrid=1, zgrid=0, tgrid=7, status="unable to open b.vrin", regime="nan"),
    dict(input="c.vrin", xgrid=-1, ygrid=1, zgrid=5, tgrid=7, status="ok", n=50, accepted=40, threshold=0.5,
         phi=0.25, tr1=100, tr1_low=90, tr1_high=110, regime="NF", regime_share=1, aphi=0.25),
]


def test_a_table_is_laid_out_as_the_netcdf_file_holds_it(tmp_path):
    path = tmp_path / "t.tsv"
    path.write_text(table_text(POINTS))
    ds = tilvex.read_dataset(path)
    assert dict(ds.sizes) == {"t": 1, "z": 2, "y": 2, "x": 4}
    for name, values, axis in (("t", [7], "T"), ("z", [0, 5], "Z"), ("y", [0, 1], "Y"), ("x", [-1, 0, 1, 2], "X")):
        assert ds[name].dtype == np.int32 and ds[name].values.tolist() == values
        assert ds[name].attrs == {"long_name": f"grid index {name.lower()}", "axis": axis}
    assert list(ds.data_vars) == ["status", "n", "accepted", *tilvex.VALUE_COLUMNS, "shmax", "shmax_low",
                                  "shmax_high", "regime", "regime_share", "aphi", "aphi_low", "aphi_high", "input",
                                  "notes"]
    assert all(ds[v].dims == ("t", "z", "y", "x") for v in ds.data_vars)
    dtypes = {v: ds[v].dtype for v in ds.data_vars}
    assert dtypes.pop("n") == dtypes.pop("accepted") == np.float64  # int64 with fill -1, decoded
    assert dtypes.pop("input") == dtypes.pop("notes") == object
    assert set(dtypes.values()) == {np.dtype(np.float32)}  # status and regime: bytes with fill -1, decoded

    a = ds.sel(t=7, z=0, y=0, x=0)
    assert (a.status, a.n, a.accepted, a.threshold) == (0, 100, 95, np.float32(0.9))
    assert bits([a[v] for v in TRENDS]) == bits([350, 340, 5, 10, 0, 0.5, 240, -0.0, np.float32("359.99997")])
    assert bits([a[v] for v in ("pl1", "pl1_low", "pl1_high", "shmax", "shmax_low", "shmax_high")]) == \
        bits([10, 5, 15, 170, 160, 10])
    assert (a.regime, a.regime_share, a.aphi_low) == (2, np.float32(0.75), np.float32(1.3))
    assert (a.input, a.notes) == ("a.vrin", "cut;phi")
    failed = ds.sel(t=7, z=0, y=1, x=2)
    assert failed.status == 1 and (failed.input, failed.notes) == ("b.vrin", "")
    assert all(np.isnan(failed[v]) for v in ("n", "accepted", "threshold", "phi", "tr1", "shmax", "regime", "aphi"))
    c = ds.sel(t=7, z=5, y=1, x=-1)
    assert (c.status, c.n, c.regime, c.regime_share, c.tr1_low, c.input) == (0, 50, 0, 1, 90, "c.vrin")
    for x, y, z in ((1, 0, 0), (-1, 0, 0), (0, 1, 0), (2, 1, 5), (0, 0, 5)):  # gaps: every fill value
        gap = ds.sel(t=7, z=z, y=y, x=x)
        assert all(np.isnan(gap[v]) for v in ds.data_vars if v not in ("input", "notes")), (x, y, z)
        assert (gap.input, gap.notes) == ("", "")

    assert ds.status.attrs["flag_meanings"] == "ok failed" and ds.status.attrs["flag_values"].tolist() == [0, 1]
    assert ds.regime.attrs["flag_meanings"] == "NF NS SS TS TF U"
    assert ds.regime.attrs["flag_values"].tolist() == [0, 1, 2, 3, 4, 5]
    assert [ds[v].attrs.get("units") for v in ("n", "threshold", "phi_low", "tr2", "pl3_high", "shmax", "aphi")] == \
        ["1", "1", "1", "degree", "degree", "degree", "1"]
    assert all(ds[v].attrs["long_name"] for v in ds.data_vars)
    assert ds.attrs["Conventions"] == "CF-1.8" and ds.attrs["title"] == "tilvex-grid results"
    assert ds.attrs["source"] == f"tilvex.read_dataset {tilvex.__version__}" and ds.attrs["table"] == str(path)


def write_netcdf(ds, path):
    """The netCDF file of docs/netcdf.md, written with netCDF4 (not by
    xarray): status and regime bytes, n and accepted int64, each with fill
    -1; floats with fill NaN; input and notes strings."""
    netCDF4 = pytest.importorskip("netCDF4")
    with netCDF4.Dataset(path, "w", format="NETCDF4") as f:
        for name in ("t", "z", "y", "x"):
            f.createDimension(name, ds.sizes[name])
            v = f.createVariable(name, "i4", (name,))
            v[:] = ds[name].values
            v.setncatts(ds[name].attrs)
        dims = ("t", "z", "y", "x")
        for name in ds.data_vars:
            values = ds[name].values
            if name in ("status", "regime", "n", "accepted"):
                kind = "i8" if name in ("n", "accepted") else "i1"
                v = f.createVariable(name, kind, dims, fill_value=-1)
                v[:] = np.where(np.isnan(values), -1, values).astype(kind)
            elif values.dtype == object:
                v = f.createVariable(name, str, dims)
                for index in zip(*np.nonzero(values != "")):
                    v[index] = values[index]
            else:
                v = f.createVariable(name, "f4", dims, fill_value=np.float32("nan"))
                v[:] = values
            v.setncatts(ds[name].attrs)
        f.setncatts({"Conventions": "CF-1.8", "title": "tilvex-grid results", "source": "tilvex-grid 1.2.0"})


def test_the_netcdf_file_reads_as_the_table_does(tmp_path):
    """The table's dataset agrees with what xarray decodes from the netCDF
    file, dtypes included; the file is read whole and closed."""
    path = tmp_path / "t.tsv"
    path.write_text(table_text(POINTS))
    from_table = tilvex.read_dataset(path)
    nc = tmp_path / "grid.nc"
    write_netcdf(from_table, nc)
    opened = len(os.listdir("/proc/self/fd"))
    from_file = tilvex.read_dataset(nc)
    assert len(os.listdir("/proc/self/fd")) == opened  # closed
    nc.unlink()  # loaded: the values stay
    assert from_file.attrs["source"] == "tilvex-grid 1.2.0"
    from_file.attrs = dict(from_table.attrs)  # the global attributes name the program that wrote each
    xr.testing.assert_identical(from_file, from_table)
    for v in from_table.variables:
        assert from_file[v].dtype == from_table[v].dtype, v
    # Written back by xarray, the table's dataset keeps the file's types.
    netCDF4 = pytest.importorskip("netCDF4")
    from_table.to_netcdf(nc)
    with netCDF4.Dataset(nc) as f:
        kinds = {v: (f[v].dtype, getattr(f[v], "_FillValue", None)) for v in ("x", "status", "n", "regime", "phi")}
    assert kinds["x"] == (np.dtype(np.int32), None)
    assert kinds["status"] == kinds["regime"] == (np.dtype(np.int8), -1) and kinds["n"] == (np.dtype(np.int64), -1)
    assert kinds["phi"][0] == np.float32 and np.isnan(kinds["phi"][1])
    xr.testing.assert_identical(tilvex.read_dataset(nc), from_table)


def test_a_grid_tilvex_grid_ran_is_laid_out_row_for_row(tmp_path):
    """Every row of a real table at its cell: the floats exactly the
    table's (trends folded), and fill values in the cells between."""
    points = [(0, 0, 0, 0), (1, 0, 0, 0), (3, 2, 0, 0), (0, 2, 1, 0), (2, 1, 0, 4)]
    lines = []
    for k, (x, y, z, t) in enumerate(points):
        path = tmp_path / f"p{k}.vrin"
        path.write_bytes(subprocess.run([GENERATE, "300", str(20 + k), str(170 * k)], capture_output=True,
                                        check=True).stdout)
        lines.append(f"{path} {x} {y} {z} {t}\n")
    lines.append(f"{tmp_path / 'missing.vrin'} 1 1 1 0\n")
    (tmp_path / "grid.txt").write_text("".join(lines))
    subprocess.run([GRID, str(tmp_path / "grid.txt"), str(tmp_path / "s.txt"), "95", str(tmp_path / "a.txt"),
                    "--table", str(tmp_path / "t.tsv"), "--quiet"], capture_output=True)
    table = tilvex.read_table(tmp_path / "t.tsv")
    ds = tilvex.read_dataset(tmp_path / "t.tsv")
    assert dict(ds.sizes) == {"t": 2, "z": 2, "y": 3, "x": 4} and len(table) == 6
    floats = [n for n in NAMES[8:-1] if n != "regime"]
    for row in table:
        cell = ds.sel(x=row["xgrid"], y=row["ygrid"], z=row["zgrid"], t=row["tgrid"])
        assert cell.status == (row["status"] != "ok") and cell.input == row["input"] and cell.notes == row["notes"]
        for name in floats:
            want = folded(row[name]) if name in TRENDS else row[name]
            assert bits(cell[name]) == bits(want), (row["input"], name)
        assert bits([cell.n, cell.accepted]) == bits([row["n"], row["accepted"]])
        regime = "NF NS SS TS TF U".split().index(row["regime"]) if row["status"] == "ok" else np.nan
        assert bits(cell.regime) == bits(regime)
    assert int(np.isnan(ds.status).sum()) == 2 * 2 * 3 * 4 - 6
    assert int(ds.status.sum()) == 1 and (table["status"] == "ok").sum() == 5


def test_trends_fold_as_the_writer_folds_them(tmp_path):
    """Every trend, from far below 0 to far above 360, near the multiples of
    360 and at the float32 steps around them, folds bit for bit as the
    formula of docs/netcdf.md."""
    rng = np.random.default_rng(9)
    near = np.float32([np.nextafter(np.float32(m), np.float32(s * 1e30)) for m in (-720, -360, 0, 360, 720)
                       for s in (-1, 1)] + [-720, -360, -0.0, 0, 360, 720, 1e-30, -1e-30])
    trends = np.concatenate([near, rng.uniform(-1e4, 1e4, 3000).astype(np.float32),
                             np.float32(rng.uniform(-1, 1, 600) * 10.0 ** rng.integers(-8, 9, 600)),
                             np.float32([np.nan, np.inf, -np.inf, 3.4e38, -3.4e38])])
    rows = [dict(input="p", xgrid=k, ygrid=0, zgrid=0, tgrid=0, status="ok", n=1, accepted=1, regime="U",
                 tr1=str(v), notes="") for k, v in enumerate(trends)]
    path = tmp_path / "t.tsv"
    path.write_text(table_text(rows))
    assert bits(tilvex.read_table(path)["tr1"]) == bits(trends)  # the table holds these floats
    ds = tilvex.read_dataset(path)
    got = ds.tr1.values[0, 0, 0]
    assert bits(got) == bits(folded(trends))
    finite = np.isfinite(got)
    assert ((got[finite] >= 0) & (got[finite] < 360)).all() and finite.sum() == len(trends) - 3


def test_read_dataset_refuses_what_it_cannot_lay_out(tmp_path, monkeypatch):
    path = tmp_path / "t.tsv"
    twice = POINTS + [dict(POINTS[0], input="again.vrin")]
    path.write_text(table_text(twice))
    with pytest.raises(ValueError, match=r"t.tsv: rows 1 and 4 are both at grid indices \(0, 0, 0, 7\)$"):
        tilvex.read_dataset(path)
    # Two points ten million indices apart: not a grid of 1e7 cells a variable.
    path.write_text(table_text([POINTS[0], dict(POINTS[2], xgrid=10_000_000, ygrid=0, zgrid=0)]))
    with pytest.raises(ValueError, match="its 2 points span 10000001 x 1 x 1 x 1 cells"):
        tilvex.read_dataset(path)
    path.write_text(table_text([]))
    assert dict(tilvex.read_dataset(path).sizes) == {"t": 0, "z": 0, "y": 0, "x": 0}
    with pytest.raises(tilvex.TilvexFileNotFoundError):
        tilvex.read_dataset(tmp_path / "missing.tsv")
    monkeypatch.setitem(sys.modules, "xarray", None)  # as where xarray is missing
    with pytest.raises(ImportError, match=r"read_dataset needs xarray \(Debian: python3-xarray; pip: xarray\)"):
        tilvex.read_dataset(tmp_path / "t.tsv")
