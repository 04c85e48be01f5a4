# A thin layer over CMake. `make demo` runs tilvex on the bundled examples,
# `make test` builds and runs every test.

BUILD ?= build
CMAKE_ARGS ?=

.PHONY: demo test report-png bench mutation python python-test pytest build configure tools gtest cli11 netcdf clean

tools:
	@command -v cmake >/dev/null 2>&1 || { echo "make: cmake is missing; install the Debian package cmake"; exit 1; }
	@command -v ninja >/dev/null 2>&1 || { echo "make: ninja is missing; install the Debian package ninja-build"; exit 1; }
	@command -v c++ >/dev/null 2>&1 || command -v g++ >/dev/null 2>&1 || { echo "make: no C++ compiler; install the Debian package g++"; exit 1; }

gtest: tools
	@printf '#include <gtest/gtest.h>\n' | $${CXX:-c++} -std=c++20 -E -x c++ - >/dev/null 2>&1 || { echo "make: GoogleTest is missing; install the Debian package libgtest-dev"; exit 1; }

# tilvex-grid and tilvex-plot read their options with CLI11 (header-only).
cli11: tools
	@printf '#include <CLI/CLI.hpp>\n' | $${CXX:-c++} -std=c++20 -E -x c++ - >/dev/null 2>&1 || { echo "make: CLI11 is missing; install the Debian package libcli11-dev"; exit 1; }

# tilvex-grid writes netCDF files with libnetcdf.
netcdf: tools
	@printf '#include <netcdf.h>\n' | $${CXX:-c++} -std=c++20 -E -x c++ - >/dev/null 2>&1 && command -v pkg-config >/dev/null 2>&1 || { echo "make: libnetcdf is missing; install the Debian packages libnetcdf-dev pkg-config"; exit 1; }

configure: tools cli11 netcdf
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# Builds only the programs it runs.
demo: configure
	@cmake --build $(BUILD) --target tilvex tilvex-plot tilvex-grid tilvex-generate
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo
	$(BUILD)/tilvex examples/worked.vrin $(BUILD)/demo/summary.txt 75 $(BUILD)/demo/accepted.txt 3 7 0 1
	$(BUILD)/tilvex examples/realistic.vrin $(BUILD)/demo/summary.txt 95 $(BUILD)/demo/accepted.txt 4 7 0 1
	@echo "== $(BUILD)/demo/summary.txt (output_file): one line per run"
	@cat $(BUILD)/demo/summary.txt
	@echo "== $(BUILD)/demo/accepted.txt (output_file2): $$(wc -l < $(BUILD)/demo/accepted.txt) accepted resamples, the first 8:"
	@head -n 8 $(BUILD)/demo/accepted.txt
	@$(BUILD)/tilvex-plot --vrin examples/realistic.vrin --level 95 -o $(BUILD)/demo/stereonet.svg
	@echo "== the realistic example with its best fit, drawn by tilvex-plot: $(BUILD)/demo/stereonet.svg"
	@for x in 0 1 2 3 4; do for y in 0 1 2 3; do \
	  $(BUILD)/tilvex-generate 400 $$((100 + 4 * x + y)) > $(BUILD)/demo/point_$${x}_$${y}.vrin; \
	  echo "$(BUILD)/demo/point_$${x}_$${y}.vrin $$x $$y 0 0"; done; done > $(BUILD)/demo/grid.txt
	@$(BUILD)/tilvex-grid $(BUILD)/demo/grid.txt $(BUILD)/demo/grid-summary.txt 95 \
	  $(BUILD)/demo/grid-accepted.txt --table $(BUILD)/demo/grid.tsv --netcdf $(BUILD)/demo/grid.nc --quiet
	@$(BUILD)/tilvex-plot --map $(BUILD)/demo/grid.tsv -o $(BUILD)/demo/map.svg
	@echo "== a generated grid of 5 x 4 points by tilvex-grid, and its map: $(BUILD)/demo/map.svg"
	@$(BUILD)/tilvex-plot --report $(BUILD)/demo/report --table $(BUILD)/demo/grid.tsv $(BUILD)/demo/grid-accepted.txt
	@echo "== its page, with each point's stereonet: $(BUILD)/demo/report/index.html"
	@echo "== its table: $(BUILD)/demo/grid.tsv; as a netCDF file: $(BUILD)/demo/grid.nc; SHmax and regime of the first points:"
	@cut -f 2,3,31-34 $(BUILD)/demo/grid.tsv | head -n 5

# docs/report.png, the README's picture: tilvex-plot --report's page in
# headless Chromium, as its browser test leaves it.
report-png: configure
	@cmake --build $(BUILD) --target tilvex-plot tilvex-grid tilvex-generate
	/usr/bin/python3 tests/browser/report_test.py $(BUILD)/tilvex-plot $(BUILD)/tilvex-grid $(BUILD)/tilvex-generate \
	  tests/data docs/report.png

test: gtest build
	@cd $(BUILD) && ctest --output-on-failure

# The Python package, in a virtual environment that sees Debian's numpy,
# installed offline by pip; setup.py builds the module with CMake in a tree
# of its own (build/python/). Its tests run against the built programs.
PYTHON ?= /usr/bin/python3
VENV = $(BUILD)/venv

python: tools
	@$(PYTHON) -c 'import pybind11, numpy' 2>/dev/null || { echo "make: pybind11 or numpy is missing; install the Debian packages pybind11-dev python3-pybind11 python3-numpy"; exit 1; }
	@test -x $(VENV)/bin/python || $(PYTHON) -m venv --system-site-packages $(VENV)
	@$(VENV)/bin/pip install --quiet --no-build-isolation --no-index --no-deps .

# The package's tests run with pytest, from the environment's Python.
pytest:
	@$(PYTHON) -c 'import pytest' 2>/dev/null || { echo "make: pytest is missing; install the Debian package python3-pytest"; exit 1; }

python-test: pytest python configure
	@cmake --build $(BUILD) --target tilvex tilvex-grid tilvex-generate tilvex-plot
	@cd $(BUILD) && TILVEX_SOURCE=$(CURDIR) TILVEX_BINARY=$(CURDIR)/$(BUILD)/tilvex \
	  TILVEX_GRID=$(CURDIR)/$(BUILD)/tilvex-grid TILVEX_GENERATE=$(CURDIR)/$(BUILD)/tilvex-generate \
	  TILVEX_PLOT=$(CURDIR)/$(BUILD)/tilvex-plot \
	  venv/bin/python -m pytest -q -p no:cacheprovider $(CURDIR)/tests/python

# Puts plausible faults into the code one at a time and reports which the
# quick tests catch (tests/mutation/); about ten minutes.
mutation: gtest
	@python3 tests/mutation/run.py

bench: build
	@$(BUILD)/tilvex-bench
	@if $(PYTHON) -c 'import pybind11, numpy' 2>/dev/null; then \
	  $(MAKE) --no-print-directory python && $(VENV)/bin/python bench/python_bench.py $(BUILD); \
	else echo "(the Python package's benchmark needs pybind11 and numpy)"; fi

clean:
	rm -rf $(BUILD) build-mutation
