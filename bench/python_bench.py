"""The Python package against the programs (make bench, when the package
is built): tilvex.analyse on 10^5 resamples held in numpy against tilvex on
the same data as a file, and a thread pool of 2 over 400 points against
tilvex-grid --jobs 2. Medians of 5 runs.

    python bench/python_bench.py BUILD_DIR
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np

import tilvex


def median_time(action, runs=5):
    times = []
    for _ in range(runs + 1):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times[1:])  # the first warms up


def records_of(text):
    """The records of a file whose lines all read completely."""
    values = np.array(text.split(), dtype=np.float64).astype(np.float32)
    return values.reshape(-1, 13)


def main():
    build = Path(sys.argv[1]).resolve()
    binary, grid, generate = build / "tilvex", build / "tilvex-grid", build / "tilvex-generate"
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        big = tmp / "big.vrin"
        big.write_bytes(subprocess.run([str(generate), "100000", "2026"], capture_output=True, check=True).stdout)
        rows = records_of(big.read_text())
        in_memory = median_time(lambda: tilvex.analyse(rows[0], rows[1:], 95))

        def program():
            for f in ("s", "a"):
                (tmp / f).unlink(missing_ok=True)
            subprocess.run([str(binary), str(big), str(tmp / "s"), "95", str(tmp / "a"), "1", "2", "3", "4"], check=True)
        from_file = median_time(program)
        print(f"100000 resamples: tilvex.analyse on numpy {in_memory * 1e3:.1f} ms, "
              f"the program on the file {from_file * 1e3:.1f} ms ({from_file / in_memory:.1f}x)")

        points = []
        for i in range(400):
            p = tmp / f"p{i}.vrin"
            p.write_bytes(subprocess.run([str(generate), "2000", str(i)], capture_output=True, check=True).stdout)
            points.append(p)
        (tmp / "grid.txt").write_text("".join(f"{p} {i} 0 0 0\n" for i, p in enumerate(points)))
        held = [records_of(p.read_text()) for p in points]

        def pool():
            with ThreadPoolExecutor(2) as ex:
                list(ex.map(lambda r: tilvex.analyse(r[0], r[1:], 95), held))
        pooled = median_time(pool)

        def grid_run():
            for f in ("s", "a", "s.tilvex-grid"):
                (tmp / f).unlink(missing_ok=True)
            subprocess.run([str(grid), str(tmp / "grid.txt"), str(tmp / "s"), "95", str(tmp / "a"),
                            "--jobs", "2", "--quiet"], check=True)
        gridded = median_time(grid_run)
        print(f"400 points of 2000 resamples: a thread pool of 2 on numpy {pooled * 1e3:.1f} ms, "
              f"tilvex-grid --jobs 2 on the files {gridded * 1e3:.1f} ms")


if __name__ == "__main__":
    main()
