// The Python module tilvex._tilvex: the analysis of the C++ library, for
// numpy. One implementation of the arithmetic: these are thin bindings.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "files/input_file.hpp"
#include "files/journal.hpp"
#include "formats/table.hpp"
#include "text/reader.hpp"
#include "text/words.hpp"
#include "tilvex/analyse.hpp"

namespace py = pybind11;

namespace {

// The program's refusal of an input: its message on standard output, and
// the reason it gives on standard error.
struct Refusal {
  std::string message, reason;
};

[[noreturn]] void refuse(const Refusal& r) {
  static py::handle error = py::module_::import("tilvex._errors").attr("TilvexError");
  PyErr_SetObject(error.ptr(), py::make_tuple(r.message, r.reason).ptr());
  throw py::error_already_set();
}

// The program refuses a confidence level that is not a number (NaN) with
// its usage line, after it has read the input; `text` is the level as given.
void check_level(float level, const std::string& text) {
  if (std::isnan(level))
    refuse({"usage: tilvex.exe *.vrin output_file confidence_level output_file2 xgrid ygrid zgrid tgrid",
            "confidence_level '" + text + "' is not a number"});
}

tilvex::Result analyse_text(std::string_view text, float level, const std::string& level_text,
                            const std::string& name) {
  if (text.empty()) refuse({"unable to read " + name, "'" + name + "' is empty"});
  if (const std::string why = tilvex::not_resample_results(text); !why.empty())
    refuse({"unable to read " + name, "'" + name + "' is not a resample results file: " + why});
  check_level(level, level_text);
  py::gil_scoped_release free;
  return tilvex::analyse(text, level);
}

// The bytes of a file as the program reads them.
std::string read_file(const std::string& path) {
  tilvex::InputFile f;
  if (!f.open(path)) refuse({"unable to open " + path, "cannot open '" + path + "': " + std::strerror(errno)});
  if (!f.read()) refuse({"unable to read " + path, "cannot read '" + path + "': " + std::strerror(f.error())});
  return std::string(f.text());
}

// The committed part of a result file: not what an append that died left.
std::string read_committed(const std::string& path) {
  std::string text = read_file(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    text.resize(static_cast<std::size_t>(
        tilvex::journal::committed_length(path, st.st_dev, st.st_ino, static_cast<off_t>(text.size()))));
  return text;
}

float to_float(std::string_view word, const std::string& where) {
  if (word == "nan" || word == "-nan") return std::nanf("");
  float v = 0.0f;
  const char* begin = word.data() + (!word.empty() && word[0] == '+' ? 1 : 0);
  const auto r = std::from_chars(begin, word.data() + word.size(), v);
  if (r.ec != std::errc() || r.ptr != word.data() + word.size())
    throw py::value_error(where + ": not a number: " + std::string(word));
  return v;
}

int to_int(std::string_view word, const std::string& where) {
  std::size_t used = 0;
  const auto v = tilvex::read_int(word, &used);
  if (!v || used != word.size()) throw py::value_error(where + ": not an int: " + std::string(word));
  return *v;
}

// Splits text into lines of blank- or tab-separated words.
template <typename Line>
void for_each_line(std::string_view text, Line line) {
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view l = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    line(number, l);
  }
}

// An array's shape as Python writes it: "(12,)", "(4, 12)", "()".
std::string shape_text(const py::array& a) {
  std::string s = "(";
  for (py::ssize_t k = 0; k < a.ndim(); ++k) s += (k == 0 ? "" : ", ") + std::to_string(a.shape(k));
  return s + (a.ndim() == 1 ? ",)" : ")");
}

const char* const kValueColumns[] = {
    "phi", "phi_low", "phi_high", "tr1", "tr1_low", "tr1_high", "pl1", "pl1_low", "pl1_high",
    "tr2", "tr2_low", "tr2_high", "pl2", "pl2_low", "pl2_high", "tr3", "tr3_low", "tr3_high",
    "pl3", "pl3_low", "pl3_high"};

}  // namespace

PYBIND11_MODULE(_tilvex, m) {
  m.doc() = "The analysis of tilvex for numpy (see the package tilvex).";
  m.attr("__version__") = TILVEX_VERSION;

  py::class_<tilvex::Result>(m, "Result")
      .def_property_readonly("count", [](const tilvex::Result& r) { return r.analysis.count; })
      .def_property_readonly("threshold", [](const tilvex::Result& r) { return r.analysis.threshold; })
      .def_property_readonly("unread_fields", [](const tilvex::Result& r) { return r.analysis.unread_fields; })
      .def_property_readonly("accepted",
                             [](const tilvex::Result& r) {
                               py::array_t<std::int64_t> a(static_cast<py::ssize_t>(r.accepted.size()));
                               auto v = a.mutable_unchecked<1>();
                               for (std::size_t i = 0; i < r.accepted.size(); ++i)
                                 v(static_cast<py::ssize_t>(i)) = static_cast<std::int64_t>(r.accepted[i]);
                               return a;
                             })
      .def_property_readonly("solutions",
                             [](const tilvex::Result& r) {
                               py::array_t<float> a({static_cast<py::ssize_t>(r.solutions.size()), py::ssize_t{7}});
                               auto v = a.mutable_unchecked<2>();
                               for (std::size_t i = 0; i < r.solutions.size(); ++i) {
                                 const tilvex::Solution& s = r.solutions[i];
                                 const float f[7] = {s.phi, s.axis[0].trend, s.axis[0].plunge, s.axis[1].trend,
                                                     s.axis[1].plunge, s.axis[2].trend, s.axis[2].plunge};
                                 for (int k = 0; k < 7; ++k) v(static_cast<py::ssize_t>(i), k) = f[k];
                               }
                               return a;
                             })
      .def_property_readonly("bounds", [](const tilvex::Result& r) {
        // name -> (best, low, high), as floats
        const tilvex::Summary& s = r.analysis.summary;
        py::dict d;
        const char* names[] = {"phi", "tr1", "pl1", "tr2", "pl2", "tr3", "pl3"};
        const tilvex::Bounds b[] = {s.phi, s.trend[0], s.plunge[0], s.trend[1], s.plunge[1], s.trend[2], s.plunge[2]};
        for (int k = 0; k < 7; ++k) d[names[k]] = py::make_tuple(b[k].best, b[k].low, b[k].high);
        return d;
      });

  // Records of 13 floats: `best` of shape (13,), `resamples` of shape (n, 13);
  // any other shape is refused before a value is read.
  m.def("_analyse_records",
        [](py::array_t<float, py::array::c_style | py::array::forcecast> best,
           py::array_t<float, py::array::c_style | py::array::forcecast> resamples, float level,
           const std::string& level_text) {
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
        },
        py::arg("best"), py::arg("resamples"), py::arg("level"), py::arg("level_text") = "nan");
  // `level_text`: the level as given, for the message of a refusal.
  m.def("_analyse_file", [](const std::string& path, float level, const std::string& level_text) {
    return analyse_text(read_file(path), level, level_text, path);
  }, py::arg("path"), py::arg("level"), py::arg("level_text") = "nan");
  m.def("_analyse_bytes", [](py::bytes data, float level, const std::string& name, const std::string& level_text) {
    const std::string text = data;
    return analyse_text(text, level, level_text, name);
  }, py::arg("data"), py::arg("level"), py::arg("name"), py::arg("level_text") = "nan");
  m.def("format_summary", &tilvex::format_summary, py::arg("result"),
        "The summary line the program appends to output_file.");
  m.def("_format_accepted", [](const tilvex::Result& r, int x, int y, int z, int t) {
    return tilvex::format_accepted(r, tilvex::Grid{x, y, z, t});
  });

  m.def("_read_table", [](const std::string& path) {
    std::string fault;
    const auto rows = tilvex::grid::read_table(read_committed(path), path, fault);
    if (!fault.empty()) throw py::value_error(fault);
    std::vector<std::string> input, status;
    std::vector<std::int32_t> grid[4];
    std::vector<double> n, accepted;
    std::vector<float> values[22];  // threshold, then the 21 values
    for (const auto& r : rows) {
      input.push_back(r.input);
      status.push_back(r.status);
      const int g[4] = {r.grid.x, r.grid.y, r.grid.z, r.grid.t};
      for (int k = 0; k < 4; ++k) grid[k].push_back(g[k]);
      n.push_back(r.n);
      accepted.push_back(r.accepted);
      for (int k = 0; k < 22; ++k) values[k].push_back(r.values[k]);
    }
    py::dict columns;
    columns["input"] = input;
    const char* g[] = {"xgrid", "ygrid", "zgrid", "tgrid"};
    for (int k = 0; k < 4; ++k) columns[g[k]] = py::array_t<std::int32_t>(static_cast<py::ssize_t>(grid[k].size()), grid[k].data());
    columns["status"] = status;
    columns["n"] = py::array_t<double>(static_cast<py::ssize_t>(n.size()), n.data());
    columns["accepted"] = py::array_t<double>(static_cast<py::ssize_t>(accepted.size()), accepted.data());
    columns["threshold"] = py::array_t<float>(static_cast<py::ssize_t>(values[0].size()), values[0].data());
    for (int k = 0; k < 21; ++k)
      columns[kValueColumns[k]] = py::array_t<float>(static_cast<py::ssize_t>(values[1 + k].size()), values[1 + k].data());
    return columns;
  });

  m.def("_read_accepted", [](const std::string& path) {
    const std::string text = read_committed(path);
    std::vector<std::int32_t> grid;
    std::vector<float> values;
    for_each_line(text, [&](std::size_t number, std::string_view line) {
      const auto f = tilvex::words(line);
      if (f.empty()) return;
      const std::string where = path + ":" + std::to_string(number);
      if (f.size() != 11) throw py::value_error(where + ": expected 11 fields, found " + std::to_string(f.size()));
      for (int k = 0; k < 4; ++k) grid.push_back(to_int(f[k], where));
      for (int k = 4; k < 11; ++k) values.push_back(to_float(f[k], where));
    });
    const auto rows = static_cast<py::ssize_t>(grid.size() / 4);
    return py::make_tuple(py::array_t<std::int32_t>({rows, py::ssize_t{4}}, grid.data()),
                          py::array_t<float>({rows, py::ssize_t{7}}, values.data()));
  });
}
