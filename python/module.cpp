// The Python module tilvex._tilvex: the analysis of the C++ library, for
// numpy. One implementation of the arithmetic: these are thin bindings.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/stress.hpp"
#include "files/input_file.hpp"
#include "formats/accepted.hpp"
#include "formats/committed_file.hpp"
#include "formats/health.hpp"
#include "formats/resample_results.hpp"
#include "formats/grid_variables.hpp"
#include "formats/table.hpp"
#include "plot/map.hpp"
#include "plot/stereonet.hpp"
#include "text/error.hpp"
#include "text/notes.hpp"
#include "text/reader.hpp"
#include "tilvex/analyse.hpp"

namespace py = pybind11;

namespace {

// The program's refusal of an input: tilvex::Error with its message on
// standard output as fixed() and the reason it gives on standard error as
// reason() (the status is not the package's concern). At the boundary,
// raise_error() makes it a TilvexError.
[[noreturn]] void refuse(const std::string& message, std::string reason) {
  throw tilvex::Error(std::move(reason), 1, message);
}

// The program refuses a confidence level that is not a number (NaN) with
// its usage line, after it has read the input; `text` is the level as given.
void check_level(float level, const std::string& text) {
  if (std::isnan(level))
    refuse("usage: tilvex.exe *.vrin output_file confidence_level output_file2 xgrid ygrid zgrid tgrid",
           "confidence_level '" + text + "' is not a number");
}

// The program refuses an input that is empty or not a resample results
// file (`name` is its name in the messages).
void check_input(std::string_view text, const std::string& name) {
  if (text.empty()) refuse("unable to read " + name, "'" + name + "' is empty");
  if (std::string why = tilvex::formats::not_resample_results_file(text, "'" + name + "'"); !why.empty())
    refuse("unable to read " + name, std::move(why));
}

tilvex::Result analyse_text(std::string_view text, float level, const std::string& level_text,
                            const std::string& name) {
  check_input(text, name);
  check_level(level, level_text);
  py::gil_scoped_release free;
  return tilvex::analyse(text, level);
}

// The bytes of a file as the program reads them; a FileError (with the
// program's words and the system's errno) where it cannot be opened or read.
std::string read_file(const std::string& path) {
  tilvex::InputFile f;
  if (!f.open(path)) throw tilvex::formats::FileError(path, false, errno);
  if (!f.read()) throw tilvex::formats::FileError(path, true, f.error());
  return std::string(f.text());
}

// At the boundary, how a tilvex::Error reaches Python: a FileError of a
// file that cannot be opened or read as a TilvexOSError (a TilvexError that
// is also an OSError with its errno; TilvexFileNotFoundError for ENOENT),
// any other refusal of the program (an error with tilvex's fixed message)
// as TilvexError(message, reason), any other error (a row of a table that
// is not of its format) as a ValueError with its reason. Registered for the
// functions of this module only.
void raise_error(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const tilvex::formats::FileError& e) {
    static py::handle file_error = py::module_::import("tilvex._errors").attr("_file_error");
    // fixed() is "unable to open NAME" or "unable to read NAME".
    const std::string name = e.fixed().substr(std::string_view("unable to open ").size());
    py::object error = file_error(e.fixed(), e.reason(), e.error_number(), name);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  } catch (const tilvex::Error& e) {
    if (e.fixed().empty()) {
      PyErr_SetString(PyExc_ValueError, e.reason().c_str());
      return;
    }
    static py::handle error = py::module_::import("tilvex._errors").attr("TilvexError");
    PyErr_SetObject(error.ptr(), py::make_tuple(e.fixed(), e.reason()).ptr());
  }
}

// An array's shape as Python writes it: "(12,)", "(4, 12)", "()".
std::string shape_text(const py::array& a) {
  std::string s = "(";
  for (py::ssize_t k = 0; k < a.ndim(); ++k) s += (k == 0 ? "" : ", ") + std::to_string(a.shape(k));
  return s + (a.ndim() == 1 ? ",)" : ")");
}

// The properties of a Result beyond its counts: the indices of the accepted
// resamples (int64, shape (m,)), their phi and axes (float32, shape (m, 7)),
// and the bounds, name -> (best, low, high) as floats.
py::array_t<std::int64_t> accepted_indices(const tilvex::Result& r) {
  py::array_t<std::int64_t> a(static_cast<py::ssize_t>(r.accepted.size()));
  auto v = a.mutable_unchecked<1>();
  for (std::size_t i = 0; i < r.accepted.size(); ++i)
    v(static_cast<py::ssize_t>(i)) = static_cast<std::int64_t>(r.accepted[i]);
  return a;
}

py::array_t<float> accepted_solutions(const tilvex::Result& r) {
  py::array_t<float> a({static_cast<py::ssize_t>(r.solutions.size()), py::ssize_t{7}});
  auto v = a.mutable_unchecked<2>();
  for (std::size_t i = 0; i < r.solutions.size(); ++i) {
    const tilvex::Solution& s = r.solutions[i];
    const float f[7] = {s.phi, s.axis[0].trend, s.axis[0].plunge, s.axis[1].trend,
                        s.axis[1].plunge, s.axis[2].trend, s.axis[2].plunge};
    for (int k = 0; k < 7; ++k) v(static_cast<py::ssize_t>(i), k) = f[k];
  }
  return a;
}

py::dict bounds(const tilvex::Result& r) {
  const tilvex::Summary& s = r.analysis.summary;
  py::dict d;
  const tilvex::Bounds b[] = {s.phi, s.trend[0], s.plunge[0], s.trend[1], s.plunge[1], s.trend[2], s.plunge[2]};
  for (int k = 0; k < 7; ++k) d[tilvex::formats::quantity_name(k)] = py::make_tuple(b[k].best, b[k].low, b[k].high);
  return d;
}

// The stress quantities of a run (analysis/stress.hpp), as tilvex-grid
// computes them for its table: from the best fit (the summary's best values
// are its solution as read) and the accepted solutions.
tilvex::StressSummary stress_of(const tilvex::Result& r) {
  const tilvex::Summary& s = r.analysis.summary;
  tilvex::Solution best;
  best.phi = s.phi.best;
  for (int k = 0; k < 3; ++k) best.axis[k] = {s.trend[k].best, s.plunge[k].best};
  return tilvex::stress_summary(best, r.solutions);
}

// The values as the table writes them: SHmax and its range each folded
// into [0, 180) as a float, the share and A-phi rounded to float.
py::tuple shmax(const tilvex::Result& r) {
  const tilvex::StressBounds b = stress_of(r).shmax;
  return py::make_tuple(tilvex::folded_float(b.best, 180.0), tilvex::folded_float(b.low, 180.0),
                        tilvex::folded_float(b.high, 180.0));
}

py::tuple aphi(const tilvex::Result& r) {
  const tilvex::StressBounds b = stress_of(r).regime_index;
  return py::make_tuple(static_cast<float>(b.best), static_cast<float>(b.low), static_cast<float>(b.high));
}

// A float as the shortest text that reads back to it ("0.4", "nan", "inf").
std::string float_text(float v) {
  if (std::isnan(v)) return "nan";
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// "<tilvex.Result count=400 threshold=0.97 accepted=380 phi=(0.5, 0.4,
// 0.6) tr1=(...) ... pl3=(...)>": the counts, the threshold and the bounds.
std::string result_repr(const tilvex::Result& r) {
  const tilvex::Summary& s = r.analysis.summary;
  std::string out = "<tilvex.Result count=" + std::to_string(r.analysis.count) +
                    " threshold=" + float_text(r.analysis.threshold) +
                    " accepted=" + std::to_string(r.analysis.accepted);
  const tilvex::Bounds b[] = {s.phi, s.trend[0], s.plunge[0], s.trend[1], s.plunge[1], s.trend[2], s.plunge[2]};
  for (int k = 0; k < 7; ++k)
    out += std::string(" ") + tilvex::formats::quantity_name(k) + "=(" + float_text(b[k].best) + ", " +
           float_text(b[k].low) + ", " + float_text(b[k].high) + ")";
  return out + ">";
}

void bind_result(py::module_& m) {
  py::class_<tilvex::Result> result(m, "Result", "The result of one analysis (see tilvex.analyse).");
  result.def_property_readonly("count", [](const tilvex::Result& r) { return r.analysis.count; })
      .def_property_readonly("threshold", [](const tilvex::Result& r) { return r.analysis.threshold; })
      .def_property_readonly("unread_fields", [](const tilvex::Result& r) { return r.analysis.unread_fields; })
      .def_property_readonly("accepted", &accepted_indices)
      .def_property_readonly("solutions", &accepted_solutions)
      .def_property_readonly("bounds", &bounds)
      .def_property_readonly("shmax", &shmax,
                             "SHmax (best, low, high) in degrees, each folded into [0, 180) as in tilvex-grid's "
                             "table: the range runs clockwise from low to high (across north low is the greater)")
      .def_property_readonly(
          "regime", [](const tilvex::Result& r) { return std::string(tilvex::regime_code(stress_of(r).regime)); },
          "the best fit's faulting regime: NF, NS, SS, TS, TF or U")
      .def_property_readonly(
          "regime_share", [](const tilvex::Result& r) { return static_cast<float>(stress_of(r).regime_share); },
          "the share of the accepted resamples in the best fit's regime, 0 to 1 (nan when none was accepted)")
      .def_property_readonly("aphi", &aphi, "the regime index A-phi (best, low, high)")
      .def("__repr__", &result_repr);
  result.attr("__module__") = "tilvex";  // re-exported there
}

using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;

// Records of 13 floats: `best` of shape (13,), `resamples` of shape (n, 13);
// any other shape is refused before a value is read.
tilvex::Result analyse_records(Floats best, Floats resamples, float level, const std::string& level_text) {
  if (best.ndim() != 1 || best.shape(0) != 13)
    throw py::value_error("best must have shape (13,), not " + shape_text(best));
  if (resamples.ndim() != 2 || resamples.shape(1) != 13)
    throw py::value_error("resamples must have shape (n, 13), not " + shape_text(resamples));
  check_level(level, level_text);
  const auto record = [](const float* f) {
    tilvex::Record r;
    std::memcpy(r.tensor.s, f, 6 * sizeof(float));
    r.solution.phi = f[6];
    for (int k = 0; k < 3; ++k) r.solution.axis[k] = {f[7 + 2 * k], f[8 + 2 * k]};
    return r;
  };
  const tilvex::Record b = record(best.data());
  std::vector<tilvex::Record> rs(static_cast<std::size_t>(resamples.shape(0)));
  for (std::size_t i = 0; i < rs.size(); ++i) rs[i] = record(resamples.data(static_cast<py::ssize_t>(i), 0));
  py::gil_scoped_release free;
  return tilvex::analyse(b, rs, level);
}

// A resample results file, or its bytes; `level_text`: the level as given,
// for the message of a refusal.
// With the result, what a reader should look at in the file (its health,
// as tilvex warns of it): (code, line, count, text) for each finding.
using Notes = std::vector<std::tuple<std::string, std::size_t, std::size_t, std::string>>;
using Analysed = std::pair<tilvex::Result, Notes>;

// The health of the file `name` with the unread fields of `analysis`.
Notes notes_of(std::string_view text, const std::string& name, const tilvex::Analysis& analysis) {
  std::vector<tilvex::formats::HealthNote> found = tilvex::formats::health_of(text, "'" + name + "'");
  tilvex::formats::add_unread(found, "'" + name + "'", analysis);
  Notes notes;
  for (const auto& n : found) notes.emplace_back(n.code, n.line, n.count, n.text);
  return notes;
}

Analysed with_notes(std::string_view text, float level, const std::string& level_text, const std::string& name) {
  tilvex::Result r = analyse_text(text, level, level_text, name);
  Notes notes = notes_of(text, name, r.analysis);
  return {std::move(r), std::move(notes)};
}

Analysed analyse_file(const std::string& path, float level, const std::string& level_text) {
  return with_notes(read_file(path), level, level_text, path);
}

Analysed analyse_bytes(py::bytes data, float level, const std::string& name, const std::string& level_text) {
  const std::string text = data;
  return with_notes(text, level, level_text, name);
}

// The records of a resample results file as the program reads them (its
// ResampleReader, both passes): the best fit (13 floats), the resamples
// from pass 2 (n, 13), n counted by pass 1, and the file's health. The
// program refuses the same files (empty, not a resample results file).
py::tuple read_vrin(const std::string& path) {
  const std::string text = read_file(path);
  check_input(text, path);
  const auto put = [](const tilvex::Record& r, float* f) {
    std::memcpy(f, r.tensor.s, 6 * sizeof(float));
    f[6] = r.solution.phi;
    for (int k = 0; k < 3; ++k) {
      f[7 + 2 * k] = r.solution.axis[k].trend;
      f[8 + 2 * k] = r.solution.axis[k].plunge;
    }
  };
  tilvex::ResampleReader reader(text);
  py::array_t<float> best(py::ssize_t{13});
  put(reader.best(), best.mutable_data());
  std::size_t n = 0;
  {
    py::gil_scoped_release free;
    while (reader.next_tensor()) ++n;
    reader.restart();
  }
  py::array_t<float> resamples({static_cast<py::ssize_t>(n), py::ssize_t{13}});
  float* out = resamples.mutable_data();
  {
    py::gil_scoped_release free;
    for (std::size_t i = 0; i < n; ++i) put(reader.next_record(true), out + 13 * i);
  }
  tilvex::Analysis unread;
  unread.unread_fields = reader.unread().count;
  unread.first_unread_line = reader.unread().first_line;
  unread.first_unread_field = reader.unread().first_field;
  return py::make_tuple(best, resamples, notes_of(text, path, unread));
}

// `degrees` (float32) folded into [0, period) by folded_float, as the
// table's SHmax and the netCDF file's trends are folded.
py::array_t<float> folded(py::array_t<float, py::array::c_style | py::array::forcecast> degrees, double period) {
  py::array_t<float> out(std::vector<py::ssize_t>(degrees.shape(), degrees.shape() + degrees.ndim()));
  const float* in = degrees.data();
  float* to = out.mutable_data();
  for (py::ssize_t i = 0; i < degrees.size(); ++i) to[i] = tilvex::folded_float(in[i], period);
  return out;
}

std::string format_accepted(const tilvex::Result& r, int x, int y, int z, int t) {
  return tilvex::format_accepted(r, tilvex::Grid{x, y, z, t});
}

// The table tilvex-grid writes, a column a key: the names and statuses as
// lists of str, the grid indices int32, n and accepted float64, the
// threshold and the 21 values float32, the stress columns float32 but the
// regime (a list of str), the notes a list of str (empty in a table of the
// older 30 columns).
py::dict read_table(const std::string& path) {
  const auto& columns = tilvex::formats::kTableColumns;
  const auto rows = tilvex::formats::read_table(tilvex::formats::committed_text(path), path);
  std::vector<std::string> input, status, notes;
  std::vector<std::int32_t> grid[4];
  std::vector<double> n, accepted;
  std::vector<float> values[22];  // threshold, then the 21 values
  std::vector<float> stress[7];   // shmax, its low and high, regime_share, aphi, its low and high
  std::vector<std::string> regime;
  for (const auto& r : rows) {
    input.push_back(r.input);
    status.push_back(r.status);
    const int g[4] = {r.grid.x, r.grid.y, r.grid.z, r.grid.t};
    for (int k = 0; k < 4; ++k) grid[k].push_back(g[k]);
    n.push_back(r.n);
    accepted.push_back(r.accepted);
    for (int k = 0; k < 22; ++k) values[k].push_back(r.values[k]);
    const float of_stress[7] = {r.shmax[0], r.shmax[1], r.shmax[2], r.regime_share, r.aphi[0], r.aphi[1], r.aphi[2]};
    for (int k = 0; k < 7; ++k) stress[k].push_back(of_stress[k]);
    regime.push_back(r.regime);
    notes.push_back(r.notes);
  }
  py::dict out;
  out[columns[0]] = input;
  for (int k = 0; k < 4; ++k)
    out[columns[1 + k]] = py::array_t<std::int32_t>(static_cast<py::ssize_t>(grid[k].size()), grid[k].data());
  out[columns[5]] = status;
  out[columns[6]] = py::array_t<double>(static_cast<py::ssize_t>(n.size()), n.data());
  out[columns[7]] = py::array_t<double>(static_cast<py::ssize_t>(accepted.size()), accepted.data());
  for (std::size_t k = 0; k < 22; ++k)
    out[columns[tilvex::formats::kThresholdColumn + k]] =
        py::array_t<float>(static_cast<py::ssize_t>(values[k].size()), values[k].data());
  for (std::size_t k = 0, at = tilvex::formats::kShmaxColumn; k < 7; ++k, ++at) {
    if (k == 3) out[columns[at++]] = regime;  // between shmax_high and regime_share
    out[columns[at]] = py::array_t<float>(static_cast<py::ssize_t>(stress[k].size()), stress[k].data());
  }
  out[columns.back()] = notes;
  return out;
}

// The accepted-resample lines of output_file2: their grid indices (int32,
// shape (n, 4)) and values (float32, shape (n, 7)).
py::tuple read_accepted(const std::string& path) {
  std::vector<std::int32_t> grid;
  std::vector<float> values;
  try {
    tilvex::formats::read_accepted(path, [&](const tilvex::formats::AcceptedLine& a) {
      grid.insert(grid.end(), {a.grid.x, a.grid.y, a.grid.z, a.grid.t});
      values.insert(values.end(), {a.phi, a.trend[0], a.plunge[0], a.trend[1], a.plunge[1], a.trend[2], a.plunge[2]});
    });
  } catch (const tilvex::formats::AcceptedLineError& e) {  // worded the package's way
    const std::string where = path + ":" + std::to_string(e.line);
    if (e.field == 0) throw py::value_error(where + ": expected 11 fields, found " + std::to_string(e.fields));
    throw py::value_error(where + (e.field <= 4 ? ": not an int: " : ": not a number: ") + e.word);
  }
  const auto rows = static_cast<py::ssize_t>(grid.size() / 4);
  return py::make_tuple(py::array_t<std::int32_t>({rows, py::ssize_t{4}}, grid.data()),
                        py::array_t<float>({rows, py::ssize_t{7}}, values.data()));
}

// The figures' numbers (src/plot/), for tilvex.plot: what tilvex-plot
// computes for its SVG, so that both draw the same.

// The accepted solutions (phi, tr1, pl1, tr2, pl2, tr3, pl3; float32, shape
// (n, 7)) as tilvex-plot's stereonet takes them, and the contours it draws
// of them (contours "regions", "density" or "sigma"; levels: empty for the
// defaults). A dict: count, left_out (axes not a number), drawn (a count per
// axis), markers (per axis, (m, 2) float64 (east, north) on a net of radius
// 1, the first MAX_MARKERS resamples' only), contours (per axis with
// contours: (axis 0 to 2, grid (size, size) float64 row by row from the
// north-west, its nodes from -1 to 1 each way, levels)), method (the
// legend's lines).
py::dict stereonet_numbers(py::array_t<float, py::array::c_style | py::array::forcecast> values,
                           const std::string& contours, const std::vector<double>& levels) {
  if (values.ndim() != 2 || values.shape(1) != 7)
    throw py::value_error("accepted solutions must have shape (n, 7), not " + shape_text(values));
  tilvex::plot::Figure f;
  if (contours == "regions") f.contours = tilvex::plot::Contours::regions;
  else if (contours == "density") f.contours = tilvex::plot::Contours::density;
  else if (contours == "sigma") f.contours = tilvex::plot::Contours::sigma;
  else throw py::value_error("contours must be \"regions\", \"density\" or \"sigma\", not \"" + contours + "\"");
  f.levels = levels;
  tilvex::plot::Cloud cloud;
  tilvex::plot::ContourSet set;
  {
    py::gil_scoped_release free;
    for (py::ssize_t i = 0; i < values.shape(0); ++i) {
      const float* v = values.data(i, 0);
      tilvex::formats::AcceptedLine a;
      a.phi = v[0];
      for (int k = 0; k < 3; ++k) a.trend[k] = v[1 + 2 * k], a.plunge[k] = v[2 + 2 * k];
      cloud.add(a);
    }
    set = tilvex::plot::contours_of(cloud, f);
  }
  py::dict out;
  out["count"] = cloud.count;
  out["left_out"] = cloud.left_out;
  out["drawn"] = py::make_tuple(cloud.drawn[0], cloud.drawn[1], cloud.drawn[2]);
  py::list markers;
  for (const auto& m : cloud.markers) {
    py::array_t<double> a({static_cast<py::ssize_t>(m.size()), py::ssize_t{2}});
    auto w = a.mutable_unchecked<2>();
    for (std::size_t i = 0; i < m.size(); ++i)
      w(static_cast<py::ssize_t>(i), 0) = m[i].east, w(static_cast<py::ssize_t>(i), 1) = m[i].north;
    markers.append(a);
  }
  out["markers"] = markers;
  py::list grids;
  for (const auto& a : set.axes) {
    const py::ssize_t size = a.grid.size;
    py::array_t<double> g({size, size}, a.grid.sigmas.data());
    grids.append(py::make_tuple(a.axis, g, a.levels));
  }
  out["contours"] = grids;
  out["method"] = set.method;
  return out;
}

// project() of each (trend, plunge) in degrees: (east, north) float64 arrays
// of their shape, nan for a non-finite angle.
py::tuple net_points(py::array_t<double, py::array::c_style | py::array::forcecast> trend,
                     py::array_t<double, py::array::c_style | py::array::forcecast> plunge) {
  if (trend.size() != plunge.size())
    throw py::value_error("trend and plunge differ in size: " + shape_text(trend) + " and " + shape_text(plunge));
  const std::vector<py::ssize_t> shape(trend.shape(), trend.shape() + trend.ndim());
  py::array_t<double> east(shape), north(shape);
  for (py::ssize_t i = 0; i < trend.size(); ++i) {
    const auto p = tilvex::plot::project(trend.data()[i], plunge.data()[i]);
    east.mutable_data()[i] = p ? p->east : std::nan("");
    north.mutable_data()[i] = p ? p->north : std::nan("");
  }
  return py::make_tuple(east, north);
}

// A colour for each value, by one of the map's scales.
std::vector<std::string> colours(const std::vector<double>& values, std::string (*scale)(double)) {
  std::vector<std::string> out;
  for (double v : values) out.push_back(scale(v));
  return out;
}

}  // namespace

PYBIND11_MODULE(_tilvex, m) {
  m.doc() = "The analysis of tilvex for numpy (see the package tilvex).";
  m.attr("__version__") = TILVEX_VERSION;
  py::register_local_exception_translator(&raise_error);
  bind_result(m);
  m.def("_analyse_records", &analyse_records, py::arg("best"), py::arg("resamples"), py::arg("level"),
        py::arg("level_text") = "nan");
  m.def("_analyse_file", &analyse_file, py::arg("path"), py::arg("level"), py::arg("level_text") = "nan");
  m.def("_analyse_bytes", &analyse_bytes, py::arg("data"), py::arg("level"), py::arg("name"),
        py::arg("level_text") = "nan");
  m.def("format_summary", &tilvex::format_summary, py::arg("result"),
        "The summary line the program appends to output_file.");
  m.def("_format_accepted", &format_accepted);

  // The table's columns, in order, and those of its floats (the threshold
  // and the 21 values; the notes follow them).
  const auto& columns = tilvex::formats::kTableColumns;
  m.attr("TABLE_COLUMNS") = py::tuple(py::cast(std::vector<std::string>(columns.begin(), columns.end())));
  m.attr("VALUE_COLUMNS") = py::tuple(py::cast(
      std::vector<std::string>(columns.begin() + tilvex::formats::kThresholdColumn,
                               columns.begin() + tilvex::formats::kThresholdColumn + 22)));
  m.def("_read_table", &read_table);
  m.def("_read_vrin", &read_vrin);
  m.def("_folded", &folded);
  // The variables of a grid as gridded data, (name, long name, units) in
  // the writer's order, and when a grid is too sparse to lay out whole.
  py::list variables;
  for (const auto& v : tilvex::formats::grid_variables()) variables.append(py::make_tuple(v.name, v.long_name, v.units));
  m.attr("GRID_VARIABLES") = py::tuple(variables);
  m.attr("GRID_CELLS_FREE") = tilvex::formats::kGridCellsFree;
  m.attr("GRID_CELLS_PER_POINT") = tilvex::formats::kGridCellsPerPoint;
  m.def("_level_note", [](float level, const std::string& text) { return tilvex::level_note(level, text); });
  m.def("_read_accepted", &read_accepted);

  // The figures' numbers and colours, from src/plot/ (tilvex.plot).
  m.def("_stereonet", &stereonet_numbers, py::arg("values"), py::arg("contours"), py::arg("levels"));
  m.def("_net_points", &net_points);
  m.def("_phi_colours", [](const std::vector<double>& v) { return colours(v, &tilvex::plot::phi_colour); });
  m.def("_aphi_colours", [](const std::vector<double>& v) { return colours(v, &tilvex::plot::aphi_colour); });
  m.attr("AXIS_COLOURS") = py::make_tuple(tilvex::plot::kAxisColours[0], tilvex::plot::kAxisColours[1],
                                          tilvex::plot::kAxisColours[2]);
  py::list regimes;
  for (const auto& r : tilvex::plot::kRegimes) regimes.append(py::make_tuple(r.code, r.colour, r.name));
  m.attr("REGIMES") = py::tuple(regimes);
  m.attr("NO_REGIME_COLOUR") = tilvex::plot::kNoRegime;
  m.attr("CROSS_GREY") = tilvex::plot::kCrossGrey;
  m.attr("MAX_MARKERS") = tilvex::plot::Cloud::kMaxMarkers;
}
