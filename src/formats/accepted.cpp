#include "accepted.hpp"

#include <charconv>
#include <cmath>
#include <set>

#include "committed_file.hpp"
#include "text/words.hpp"

namespace tilvex::formats {

namespace {

std::string message(const std::string& name, std::size_t line, int field, std::size_t fields,
                    std::string_view word) {
  std::string m = name + ":" + std::to_string(line) + ": ";
  if (field == 0)
    return m + "expected 11 fields (4 grid indices, phi and 3 trend/plunge pairs), found " + std::to_string(fields);
  return m + "field " + std::to_string(field) + (field <= 4 ? " is not an integer: " : " is not a number: ") +
         std::string(word);
}

}  // namespace

AcceptedLineError::AcceptedLineError(const std::string& name, std::size_t line_, int field_, std::size_t fields_,
                                     std::string_view word_)
    : Error(message(name, line_, field_, fields_, word_)), line(line_), field(field_), fields(fields_), word(word_) {}

std::optional<AcceptedLine> parse_accepted_line(std::string_view line, const std::string& name,
                                               std::size_t number) {
  // The words, without an allocation a line: the first 11, and how many.
  std::string_view f[11];
  std::size_t count = 0;
  for (std::string_view rest = line;;) {
    const std::string_view word = first_word(rest);
    if (word.empty()) break;
    if (count < 11) f[count] = word;
    ++count;
    rest.remove_prefix(static_cast<std::size_t>(word.data() + word.size() - rest.data()));
  }
  if (count == 0) return std::nullopt;
  if (count != 11) throw AcceptedLineError(name, number, 0, count, {});
  int grid[4];
  for (int k = 0; k < 4; ++k) {
    std::size_t used = 0;
    const auto v = read_int(f[k], &used);
    if (!v || used != f[k].size()) throw AcceptedLineError(name, number, k + 1, 11, f[k]);
    grid[k] = *v;
  }
  float values[7];
  for (int k = 0; k < 7; ++k) {
    const std::string_view w = f[4 + k];
    if (w == "nan" || w == "-nan") {
      values[k] = std::nanf("");
      continue;
    }
    const char* begin = w.data() + (w[0] == '+' ? 1 : 0);  // a word is never empty
    const auto r = std::from_chars(begin, w.data() + w.size(), values[k]);
    if (r.ec != std::errc() || r.ptr != w.data() + w.size()) throw AcceptedLineError(name, number, 5 + k, 11, w);
  }
  AcceptedLine a;
  a.grid = Grid{grid[0], grid[1], grid[2], grid[3]};
  a.phi = values[0];
  for (int k = 0; k < 3; ++k) a.trend[k] = values[1 + 2 * k], a.plunge[k] = values[2 + 2 * k];
  return a;
}

void read_accepted(const std::string& path, const std::function<void(const AcceptedLine&)>& each,
                   std::size_t chunk) {
  LineCutter cutter([&](std::string_view line, std::size_t number) {
    if (const auto a = parse_accepted_line(line, path, number)) each(*a);
  });
  read_committed(path, [&](std::string_view piece) { cutter.feed(piece); }, chunk);
  cutter.finish();
}

std::string grid_text(const Grid& g) {
  return std::to_string(g.x) + " " + std::to_string(g.y) + " " + std::to_string(g.z) + " " +
         std::to_string(g.t);
}

Grid select_grid(const std::string& path, const std::optional<Grid>& chosen,
                 const std::function<void(const AcceptedLine&)>& each) {
  // One pass: the lines of the chosen grid point, or of the first one
  // (whose lines count only if it turns out to be the only one).
  std::optional<Grid> grid = chosen;
  std::set<Grid> found;
  std::size_t taken = 0;
  read_accepted(path, [&](const AcceptedLine& a) {
    found.insert(a.grid);
    if (!grid) grid = a.grid;
    if (a.grid == *grid) ++taken, each(a);
  });
  if (found.empty()) throw Error(path + ": holds no accepted resamples");
  if (!chosen && found.size() > 1) {
    std::string list;
    for (const Grid& g : found) list += (list.empty() ? "" : ", ") + grid_text(g);
    throw Error(path + ": holds " + std::to_string(found.size()) + " grid points; choose one with --grid X Y Z T: " +
                list);
  }
  if (taken == 0) throw Error(path + ": no accepted resample for grid point " + grid_text(*grid));
  return *grid;
}

}  // namespace tilvex::formats
