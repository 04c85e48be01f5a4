#include <charconv>
#include <cmath>

#include "table.hpp"
#include "text/error.hpp"
#include "text/words.hpp"

namespace tilvex::formats {

namespace {

std::vector<std::string_view> columns_of(std::string_view line) {
  std::vector<std::string_view> out;
  for (std::size_t at = 0;;) {
    const std::size_t tab = line.find('\t', at);
    out.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
    if (tab == std::string_view::npos) return out;
    at = tab + 1;
  }
}

}  // namespace

std::vector<TableRow> read_table(std::string_view text, const std::string& name) {
  std::vector<TableRow> rows;
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || is_table_header(line)) continue;
    const std::string where = name + ":" + std::to_string(number) + ": ";
    const auto c = columns_of(line);
    if (c.size() != kTableColumns.size() && c.size() != kTableColumnsWithoutStress &&
        c.size() != kTableColumnsWithoutNotes)
      throw Error(where + "expected " + std::to_string(kTableColumns.size()) + " columns, found " +
                  std::to_string(c.size()));
    TableRow r;
    r.input = std::string(c[0]);
    int g[4];
    for (int k = 0; k < 4; ++k) {
      std::size_t used = 0;
      const auto v = read_int(c[1 + k], &used);
      if (!v || used != c[1 + k].size())
        throw Error(where + "column " + std::to_string(2 + k) + " is not an int: " + std::string(c[1 + k]));
      g[k] = *v;
    }
    r.grid = Grid{g[0], g[1], g[2], g[3]};
    r.status = std::string(c[5]);
    for (int k = 0; k < 2; ++k) {
      std::size_t used = 0;
      const auto v = read_int(c[6 + k], &used);
      if (c[6 + k] == "nan")
        (k == 0 ? r.n : r.accepted) = std::nan("");
      else if (!v || used != c[6 + k].size())
        throw Error(where + "column " + std::to_string(7 + k) + " is not an int: " + std::string(c[6 + k]));
      else
        (k == 0 ? r.n : r.accepted) = *v;
    }
    const auto number_at = [&](std::size_t k) {
      const std::string_view w = c[k];
      float v = std::nanf("");
      if (w != "nan" && w != "-nan") {
        const auto res = std::from_chars(w.data(), w.data() + w.size(), v);
        if (res.ec != std::errc() || res.ptr != w.data() + w.size())
          throw Error(where + "column " + std::to_string(k + 1) + " is not a number: " + std::string(w));
      }
      return v;
    };
    for (std::size_t k = 0; k < 22; ++k) r.values[k] = number_at(kThresholdColumn + k);
    if (c.size() == kTableColumns.size()) {
      for (std::size_t k = 0; k < 3; ++k) r.shmax[k] = number_at(kShmaxColumn + k);
      // A regime's code, or nan (a failed point): any other text would be
      // no regime at all in the netCDF file's flags.
      r.regime = std::string(c[kShmaxColumn + 3]);
      bool known = r.regime == "nan";
      for (Regime code : {Regime::kNormal, Regime::kNormalStrikeSlip, Regime::kStrikeSlip, Regime::kThrustStrikeSlip,
                       Regime::kThrust, Regime::kUnknown})
        known = known || r.regime == regime_code(code);
      if (!known)
        throw Error(where + "column " + std::to_string(kShmaxColumn + 4) + " is not a regime (NF, NS, SS, TS, TF, U): " +
                    r.regime);
      r.regime_share = number_at(kShmaxColumn + 4);
      for (std::size_t k = 0; k < 3; ++k) r.aphi[k] = number_at(kShmaxColumn + 5 + k);
    }
    if (c.size() != kTableColumnsWithoutNotes) r.notes = std::string(c.back());
    rows.push_back(std::move(r));
  }
  return rows;
}

}  // namespace tilvex::formats
