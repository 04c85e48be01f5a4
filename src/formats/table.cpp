#include "table.hpp"

#include <charconv>
#include <cmath>

namespace tilvex::formats {

namespace {

// The shortest text that reads back to `v`; every NaN is "nan".
void put_float(std::string& out, float v) {
  out += '\t';
  if (std::isnan(v)) {
    out += "nan";
    return;
  }
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The input name and the indices; tabs and newlines in a name or a
// message become blanks, so that a row stays one row of columns.
std::string row_start(std::string_view input, const Grid& grid, std::string_view status) {
  std::string row;
  for (char c : input) row += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  for (int v : {grid.x, grid.y, grid.z, grid.t}) row += '\t' + std::to_string(v);
  row += '\t';
  for (char c : status) row += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  return row;
}

}  // namespace

std::string table_header() {
  std::string h;
  for (const char* name : kTableColumns) h += (h.empty() ? "" : "\t") + std::string(name);
  return h + "\n";
}

bool is_table_header(std::string_view line) {
  std::string now = table_header();
  now.pop_back();     // its newline
  std::string older;  // the first 30 columns, then the notes or not
  for (std::size_t k = 0; k < kTableColumnsWithoutNotes; ++k) older += (k == 0 ? "" : "\t") + std::string(kTableColumns[k]);
  return line == now || line == older || line == older + "\t" + kTableColumns.back();
}

std::string table_row(std::string_view input, const Grid& grid, const Analysis& a, const StressSummary& stress,
                      std::string_view notes) {
  std::string row = row_start(input, grid, "ok");
  row += '\t' + std::to_string(a.count) + '\t' + std::to_string(a.accepted);
  put_float(row, a.threshold);
  const Summary& s = a.summary;
  for (const Bounds& b :
       {s.phi, s.trend[0], s.plunge[0], s.trend[1], s.plunge[1], s.trend[2], s.plunge[2]})
    for (float v : {b.best, b.low, b.high}) put_float(row, v);
  for (double v : {stress.shmax.best, stress.shmax.low, stress.shmax.high}) put_float(row, folded_float(v, 180.0));
  row += '\t';
  row += regime_code(stress.regime);
  put_float(row, static_cast<float>(stress.regime_share));
  const StressBounds& i = stress.regime_index;
  for (double v : {i.best, i.low, i.high}) put_float(row, static_cast<float>(v));
  row += '\t';
  for (char c : notes) row += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  return row + "\n";
}

std::string table_row(std::string_view input, const Grid& grid, std::string_view failure) {
  std::string row = row_start(input, grid, failure);
  for (std::size_t k = 6; k + 1 < kTableColumns.size(); ++k) row += "\tnan";
  return row + "\t\n";  // no notes
}

}  // namespace tilvex::formats
