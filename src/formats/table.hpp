#pragma once
// The table of a grid: one tab-separated row per point, in list order,
// that pairs every summary with its point. Floats are the shortest text
// that reads back to the same float; "nan" stands where there is no value.

#include <string>
#include <string_view>
#include <vector>

#include "grid/list.hpp"
#include "tilvex/analyse.hpp"

namespace tilvex::grid {

// The header row, with its newline.
std::string table_header();

// The row of a point that was analysed, status "ok".
std::string table_row(const Point& point, const Analysis& analysis);

// The row of a point that failed: its status is the message tilvex prints,
// and every value is nan.
std::string table_row(const Point& point, std::string_view failure);

// A row of the table, read back: the values are threshold, then phi,
// phi_low, phi_high, tr1, tr1_low, ... pl3_high (nan where there is none).
struct TableRow {
  std::string input;
  Grid grid;
  std::string status;
  double n = 0, accepted = 0;  // nan for a failed point
  float values[22] = {};
  bool ok() const { return status == "ok"; }
  // The best fit, low and high bound of phi (0), tr1 (1), pl1 (2), ... pl3 (6).
  float value(int quantity, int which) const { return values[1 + 3 * quantity + which]; }
};

// Reads a table (header rows skipped); on a malformed row, empty with
// `fault` naming the row.
std::vector<TableRow> read_table(std::string_view text, const std::string& name, std::string& fault);

}  // namespace tilvex::grid
