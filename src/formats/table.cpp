#include "table.hpp"

#include <charconv>
#include <cmath>

namespace tilvex::grid {

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
std::string row_start(const Point& p, std::string_view status) {
  std::string row;
  for (char c : p.input) row += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  for (int v : {p.grid.x, p.grid.y, p.grid.z, p.grid.t}) row += '\t' + std::to_string(v);
  row += '\t';
  for (char c : status) row += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  return row;
}

}  // namespace

std::string table_header() {
  std::string h = "input\txgrid\tygrid\tzgrid\ttgrid\tstatus\tn\taccepted\tthreshold";
  for (const char* name : {"phi", "tr1", "pl1", "tr2", "pl2", "tr3", "pl3"})
    for (const char* suffix : {"", "_low", "_high"}) h += std::string("\t") + name + suffix;
  return h + "\n";
}

std::string table_row(const Point& point, const Analysis& a) {
  std::string row = row_start(point, "ok");
  row += '\t' + std::to_string(a.count) + '\t' + std::to_string(a.accepted);
  put_float(row, a.threshold);
  const Summary& s = a.summary;
  for (const Bounds& b :
       {s.phi, s.trend[0], s.plunge[0], s.trend[1], s.plunge[1], s.trend[2], s.plunge[2]})
    for (float v : {b.best, b.low, b.high}) put_float(row, v);
  return row + "\n";
}

std::string table_row(const Point& point, std::string_view failure) {
  std::string row = row_start(point, failure);
  for (int k = 0; k < 2 + 1 + 21; ++k) row += "\tnan";
  return row + "\n";
}

}  // namespace tilvex::grid
