#pragma once
// The table of a grid: one tab-separated row per point, in list order,
// that pairs every summary with its point. Floats are the shortest text
// that reads back to the same float; "nan" stands where there is no value.

#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/stress.hpp"
#include "tilvex/analyse.hpp"

namespace tilvex::formats {

// The columns, in order: the point, its status and counts, the threshold,
// the best fit, low and high bound of each quantity, the stress quantities
// (analysis/stress.hpp), then the codes of its input's health notes
// (formats/health.hpp), ';'-separated, empty when clean. The one list: the
// header, the reader and the Python package take it from here.
//
// The stress columns: shmax, the azimuth of SHmax in degrees in [0, 180),
// and shmax_low and shmax_high, the ends of its range, each in [0, 180) too:
// the range runs clockwise from shmax_low to shmax_high, so across north
// shmax_low is the greater (170 to 10 is 20 degrees wide). regime, the
// regime's code (NF, NS, SS, TS, TF or U), and regime_share, the share of
// the accepted resamples in it (0 to 1); aphi, aphi_low, aphi_high, the
// regime index A-phi and its range. The trend columns stay as the summary
// gives them (not folded).
inline constexpr std::array<const char*, 39> kTableColumns = {
    "input", "xgrid", "ygrid", "zgrid", "tgrid", "status", "n", "accepted", "threshold",
    "phi", "phi_low", "phi_high", "tr1", "tr1_low", "tr1_high", "pl1", "pl1_low", "pl1_high",
    "tr2", "tr2_low", "tr2_high", "pl2", "pl2_low", "pl2_high", "tr3", "tr3_low", "tr3_high",
    "pl3", "pl3_low", "pl3_high", "shmax", "shmax_low", "shmax_high", "regime", "regime_share",
    "aphi", "aphi_low", "aphi_high", "notes"};
// The widths of tables written before the stress columns (31: the notes
// follow pl3_high) and before the notes column (30); read_table reads such
// rows too, their stress values NaN and their regime empty.
inline constexpr std::size_t kTableColumnsWithoutStress = 31;
inline constexpr std::size_t kTableColumnsWithoutNotes = 30;
// The first stress column (shmax).
inline constexpr std::size_t kShmaxColumn = 30;
// The first float column (the threshold); the 21 values follow it.
inline constexpr std::size_t kThresholdColumn = 8;
// The name of quantity `k`: phi (0), tr1, pl1, tr2, pl2, tr3, pl3 (6).
constexpr const char* quantity_name(int k) { return kTableColumns[kThresholdColumn + 1 + 3 * static_cast<std::size_t>(k)]; }

// The header row, with its newline.
std::string table_header();

// Whether `line` (without its newline) is the header row of a table, of
// the columns now or of an older table's (31 or 30 columns).
bool is_table_header(std::string_view line);

// The row of a point (`input`, `grid`) that was analysed, status "ok",
// with its stress quantities; `notes` are its codes (note_codes in
// formats/health.hpp).
std::string table_row(std::string_view input, const Grid& grid, const Analysis& analysis,
                      const StressSummary& stress, std::string_view notes = {});

// The row of a point that failed: its status is the message tilvex prints,
// every value is nan and its notes are empty.
std::string table_row(std::string_view input, const Grid& grid, std::string_view failure);

// A row of the table, read back: the values are threshold, then phi,
// phi_low, phi_high, tr1, tr1_low, ... pl3_high (nan where there is none).
struct TableRow {
  std::string input;
  Grid grid;
  std::string status;
  double n = 0, accepted = 0;  // nan for a failed point
  float values[22] = {};
  // The stress columns as written: best, low and high of SHmax and of A-phi.
  float shmax[3] = {NAN, NAN, NAN};
  std::string regime;  // "NF" ... "U"; "nan" for a failed point, empty in an older table
  float regime_share = NAN;
  float aphi[3] = {NAN, NAN, NAN};
  std::string notes;  // codes, ';'-separated; empty when clean or in a row of 30 columns
  bool ok() const { return status == "ok"; }
  // The best fit, low and high bound of phi (0), tr1 (1), pl1 (2), ... pl3 (6).
  float value(int quantity, int which) const { return values[1 + 3 * quantity + which]; }
};

// Reads a table, the text of the file `name` (header rows skipped, now or
// older: a point whose input is named "input" is a row), rows
// of 39 columns or of the older 31 or 30. Throws tilvex::Error (status 1)
// at the first malformed row (a count not an int, a value not a float or
// nan, a regime not a code or nan), its reason naming the row:
// "NAME:LINE: expected 39 columns, found 3".
std::vector<TableRow> read_table(std::string_view text, const std::string& name);

}  // namespace tilvex::formats
