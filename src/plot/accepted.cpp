#include "accepted.hpp"

#include <cstdlib>
#include <set>

#include "text/words.hpp"

namespace tilvex::plot {

namespace {

std::string where(const std::string& name, std::size_t line) {
  return name + ":" + std::to_string(line) + ": ";
}

int to_int(std::string_view s, const std::string& at, int field) {
  std::size_t end = 0;
  const auto v = read_int(s, &end);
  if (!v || end != s.size())
    throw PlotError(at + "field " + std::to_string(field) + " is not an integer: " + std::string(s));
  return *v;
}

double to_number(std::string_view word, const std::string& at, int field) {
  const std::string s(word);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0')
    throw PlotError(at + "field " + std::to_string(field) + " is not a number: " + s);
  return v;
}

std::string grid_text(const Grid& g) {
  return std::to_string(g.x) + " " + std::to_string(g.y) + " " + std::to_string(g.z) + " " +
         std::to_string(g.t);
}

}  // namespace

std::optional<AcceptedLine> parse_accepted_line(std::string_view line, const std::string& name,
                                               std::size_t number) {
    const std::vector<std::string_view> f = words(line);
    if (f.empty()) return std::nullopt;
    const std::string place = where(name, number);
    if (f.size() != 11)
      throw PlotError(place + "expected 11 fields (4 grid indices, phi and 3 trend/plunge "
                              "pairs), found " + std::to_string(f.size()));
    AcceptedLine a;
    a.grid = {to_int(f[0], place, 1), to_int(f[1], place, 2), to_int(f[2], place, 3),
              to_int(f[3], place, 4)};
    a.phi = to_number(f[4], place, 5);
    for (int k = 0; k < 3; ++k) {
      a.trend[k] = to_number(f[5 + 2 * k], place, 6 + 2 * k);
      a.plunge[k] = to_number(f[6 + 2 * k], place, 7 + 2 * k);
    }
    return a;
}

std::vector<AcceptedLine> read_accepted(std::string_view text, const std::string& name) {
  std::vector<AcceptedLine> lines;
  std::size_t number = 0, at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    if (auto a = parse_accepted_line(text.substr(at, end - at), name, ++number)) lines.push_back(*a);
    at = end + 1;
  }
  return lines;
}

std::vector<AcceptedLine> select_grid(const std::vector<AcceptedLine>& lines,
                                      const Grid* chosen, const std::string& name) {
  if (lines.empty()) throw PlotError(name + ": holds no accepted resamples");
  Grid grid = lines.front().grid;
  if (chosen != nullptr) {
    grid = *chosen;
  } else {
    std::set<Grid> found;
    for (const AcceptedLine& a : lines) found.insert(a.grid);
    if (found.size() > 1) {
      std::string list;
      for (const Grid& g : found) list += (list.empty() ? "" : ", ") + grid_text(g);
      throw PlotError(name + ": holds " + std::to_string(found.size()) +
                      " grid points; choose one with --grid X Y Z T: " + list);
    }
  }
  std::vector<AcceptedLine> selected;
  for (const AcceptedLine& a : lines)
    if (a.grid == grid) selected.push_back(a);
  if (selected.empty())
    throw PlotError(name + ": no accepted resample for grid point " + grid_text(grid));
  return selected;
}

}  // namespace tilvex::plot
