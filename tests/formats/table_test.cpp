#include "formats/table.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "formats/resample_results.hpp"
#include "text/error.hpp"

namespace tilvex::formats {
namespace {

// A row reads back as it was written: the floats to the bit, a name's tab
// as a blank, a failed point's values as NaN.
TEST(Table, RowsReadBack) {
  Analysis a;
  a.count = 2000;
  a.accepted = 1900;
  a.threshold = 0x1.fdf3b6p-1f;
  a.summary.phi = {0.5f, 0x1.99999ap-4f, -0.0f};
  a.summary.trend[0] = {355.0f, 350.25f, 0x1.73c7aep+8f};
  a.summary.plunge[2] = {-8.47f, NAN, INFINITY};
  // SHmax's best and bounds come folded into [0, 180); the others as they are.
  StressSummary stress;
  stress.shmax = {-30.0, -45.5, 95.25};
  stress.regime = Regime::kThrust;
  stress.regime_share = 0.75;
  stress.regime_index = {2.5, 2.25, 2.875};
  const std::string text = table_header() + table_row("a\tb.vrin", Grid{3, -7, 0, 1}, a, stress, "cut;phi") +
                           table_row("c.vrin", Grid{1, 2, 3, 4}, "unable to open c.vrin");
  const auto rows = read_table(text, "t.tsv");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].input, "a b.vrin");
  EXPECT_EQ(rows[0].grid, (Grid{3, -7, 0, 1}));
  EXPECT_TRUE(rows[0].ok());
  EXPECT_EQ(rows[0].n, 2000.0);
  EXPECT_EQ(rows[0].accepted, 1900.0);
  const auto bits = [](float f) { return std::bit_cast<std::uint32_t>(f); };
  EXPECT_EQ(bits(rows[0].values[0]), bits(a.threshold));
  const float expected[][3] = {{0.5f, 0x1.99999ap-4f, -0.0f}, {355.0f, 350.25f, 0x1.73c7aep+8f}};
  for (int q = 0; q < 2; ++q)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(bits(rows[0].value(q, k)), bits(expected[q][k])) << q << k;
  EXPECT_EQ(bits(rows[0].value(6, 0)), bits(-8.47f));
  EXPECT_TRUE(std::isnan(rows[0].value(6, 1)));
  EXPECT_EQ(rows[0].value(6, 2), INFINITY);
  EXPECT_EQ(rows[1].status, "unable to open c.vrin");
  EXPECT_FALSE(rows[1].ok());
  EXPECT_TRUE(std::isnan(rows[1].n) && std::isnan(rows[1].accepted));
  for (float v : rows[1].values) EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(rows[0].notes, "cut;phi");
  EXPECT_EQ(rows[1].notes, "");
  EXPECT_EQ(rows[0].shmax[0], 150.0f);
  EXPECT_EQ(rows[0].shmax[1], 134.5f);
  EXPECT_EQ(rows[0].shmax[2], 95.25f);
  EXPECT_EQ(rows[0].regime, "TF");
  EXPECT_EQ(rows[0].regime_share, 0.75f);
  EXPECT_EQ(rows[0].aphi[0], 2.5f);
  EXPECT_EQ(rows[0].aphi[1], 2.25f);
  EXPECT_EQ(rows[0].aphi[2], 2.875f);
  EXPECT_EQ(rows[1].regime, "nan");
  EXPECT_TRUE(std::isnan(rows[1].shmax[0]) && std::isnan(rows[1].regime_share) && std::isnan(rows[1].aphi[2]));
  // A row of the older 31 columns (no stress columns) reads its notes.
  {
    std::string row = text.substr(text.find('\n') + 1);
    row = row.substr(0, row.find('\n'));
    std::size_t cut = 0;
    for (std::size_t k = 0; k < kShmaxColumn; ++k) cut = row.find('\t', cut) + 1;
    row = row.substr(0, cut) + "cut;phi\n";
    const auto narrow = read_table(row, "t.tsv");
    ASSERT_EQ(narrow.size(), 1u);
    EXPECT_EQ(narrow[0].notes, "cut;phi");
    EXPECT_EQ(narrow[0].regime, "");
    EXPECT_TRUE(std::isnan(narrow[0].shmax[0]));
    EXPECT_EQ(bits(narrow[0].value(6, 0)), bits(-8.47f));
  }
  // A row of the older 30 columns (no notes) reads to the same values.
  std::string older = text.substr(text.find('\n') + 1);
  older = older.substr(0, older.find('\n'));
  for (std::size_t k = kShmaxColumn; k < kTableColumns.size(); ++k) older = older.substr(0, older.rfind('\t'));
  older += "\n";
  const auto old_rows = read_table(older, "t.tsv");
  ASSERT_EQ(old_rows.size(), 1u);
  EXPECT_EQ(old_rows[0].notes, "");
  EXPECT_EQ(bits(old_rows[0].value(1, 2)), bits(0x1.73c7aep+8f));
  // The text of a float is the shortest that reads back to that float,
  // not to the double it widens to.
  EXPECT_NE(text.find("\t0.1\t"), std::string::npos);
  EXPECT_EQ(text.find("0.10000000149011612"), std::string::npos);
  // A point whose input is named "input..." is a row, not a header.
  const auto named = read_table(table_header() + table_row("inputs/a.vrin", Grid{1, 0, 0, 0}, a, stress), "t.tsv");
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].input, "inputs/a.vrin");
  // So is one named "input" (its row was taken for a header and skipped:
  // the point was missing from the netCDF file); the headers of the older
  // tables are skipped.
  std::string older_header;
  for (std::size_t k = 0; k < kTableColumnsWithoutNotes; ++k) older_header += kTableColumns[k] + std::string("\t");
  const auto bare = read_table(table_header() + table_row("input", Grid{2, 0, 0, 0}, a, stress) + older_header +
                                   "notes\n" + older_header.substr(0, older_header.size() - 1) + "\r\n" +
                                   table_row("input", Grid{3, 0, 0, 0}, "unable to open input"),
                               "t.tsv");
  ASSERT_EQ(bare.size(), 2u);
  EXPECT_EQ(bare[0].input, "input");
  EXPECT_EQ(bare[0].grid.x, 2);
  EXPECT_EQ(bits(bare[0].value(0, 0)), bits(a.summary.phi.best));
  EXPECT_EQ(bare[1].input, "input");
  EXPECT_EQ(bare[1].status, "unable to open input");
  EXPECT_EQ(quantity_name(0), std::string("phi"));
  EXPECT_EQ(quantity_name(6), std::string("pl3"));
}

TEST(Table, RowsThatDoNotRead) {
  const std::string nans = [] {
    std::string s;
    for (int k = 0; k < 22; ++k) s += "\tnan";
    return s;
  }();
  struct Bad {
    std::string text, reason;
  };
  const Bad bad[] = {
      {"a\t1\t2\t3\n", "t.tsv:1: expected 39 columns, found 4"},
      {"input\txgrid\tygrid\n", "t.tsv:1: expected 39 columns, found 3"},  // no header: was skipped
      {"\na\t1\t2\t3\t4\tok\tnan\tnan" + nans + "\tcut\tnan\n", "t.tsv:2: expected 39 columns, found 32"},
      {"a\t1\t2\t3\t4\tok\t10\t9" + nans + "\t1\t2\t3\tSS\t0.5\t1.5\t1.25x\t2\t\n",
       "t.tsv:1: column 37 is not a number: 1.25x"},
      // (A regime of another text was read, and was no regime in the netCDF file.)
      {"a\t1\t2\t3\t4\tok\t10\t9" + nans + "\t1\t2\t3\tSx\t0.5\t1.5\t1.25\t2\t\n",
       "t.tsv:1: column 34 is not a regime (NF, NS, SS, TS, TF, U): Sx"},
      {"a\t1\t2\tx\t4\tok\tnan\tnan" + nans + "\n", "t.tsv:1: column 4 is not an int: x"},
      {"a\t1\t2\t3\t4\tok\t10\t9.5" + nans + "\n", "t.tsv:1: column 8 is not an int: 9.5"},
      {"a\t1\t2\t3\t4\tok\t10\t9\t0.5x" + nans.substr(4) + "\n", "t.tsv:1: column 9 is not a number: 0.5x"},
  };
  for (const Bad& b : bad) {
    try {
      read_table(b.text, "t.tsv");
      ADD_FAILURE() << b.text;
    } catch (const Error& e) {
      EXPECT_EQ(e.reason(), b.reason);
    }
  }
}

// The one wording of a refusal, whichever program gives it.
TEST(ResampleResults, TheRefusalNamesTheFileAndWhy) {
  struct Case {
    const char* text;
    const char* reason;
  };
  const Case cases[] = {
      {"1 2 3 4 5 6\n0.5 1 2 3 4 5 6\n", ""},
      {"  -0.5x\n", ""},
      {"\n1 2 3 4 5 6\n", "'r.vrin' is not a resample results file: its first line is blank"},
      {" \t\r\n1", "'r.vrin' is not a resample results file: its first line is blank"},
      {"x 1 2\n", "'r.vrin' is not a resample results file: its first line does not begin with a number"},
  };
  for (const Case& c : cases) EXPECT_EQ(not_resample_results_file(c.text, "'r.vrin'"), c.reason) << c.text;
}

}  // namespace
}  // namespace tilvex::formats
