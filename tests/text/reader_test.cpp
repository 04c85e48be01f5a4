#include "text/reader.hpp"

#include "text/scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tilvex {
namespace {

std::vector<std::string> lines_of(std::string_view text) {
  LineCursor c(text);
  std::vector<std::string> out;
  while (c.next()) out.emplace_back(c.line());
  out.emplace_back(c.line());  // a read at the end keeps the last line
  return out;
}

TEST(LineCursor, ReadsPhysicalLinesAsAStreamDoes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(lines_of("a\nb\n"), (V{"a\n", "b\n", "b\n"}));
  EXPECT_EQ(lines_of("a\n\nb"), (V{"a\n", "\n", "b", "b"}));  // blank line, no final newline
  EXPECT_EQ(lines_of(""), (V{""}));
  // A line is whole however long it is.
  const std::string longer(5000, '7');
  EXPECT_EQ(lines_of(longer + "\nx\n"), (V{longer + "\n", "x\n", "x\n"}));
}

// Newlines counted 16 bytes at a time: texts all newlines (a byte's count
// must not pass 255 between sums) and of random bytes near the newline's
// (0x0a, 0x8a, 0x0b, 0x09), of every length to past two sums' worth, from
// every place within 16 bytes.
TEST(CountLines, AsManyAsTheTextHolds) {
  std::mt19937 rng(11);
  const char near[] = {'\n', '\n', static_cast<char>(0x8a), '\v', '\t', 'x'};
  std::string pool(10000, '\n');
  for (const std::size_t at : {std::size_t{0}, std::size_t{1}, std::size_t{15}})
    for (const std::size_t length : {std::size_t{255 * 16}, std::size_t{255 * 16 + 1}, std::size_t{9000}})
      EXPECT_EQ(count_lines(std::string_view(pool).substr(at, length)), length);
  for (char& c : pool) c = near[rng() % 6];
  for (std::size_t length = 0; length < 8200; length += 1 + rng() % 23)
    for (std::size_t at = 0; at < 16; ++at) {
      const std::string_view text = std::string_view(pool).substr(at, length);
      ASSERT_EQ(count_lines(text), static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')))
          << length << " bytes from " << at;
    }
}

TEST(ScanFields, StopsAtTheFirstFieldThatDoesNotConvert) {
  struct Case {
    const char* line;
    int got;
    float expect[6];
  };
  const Case cases[] = {
      {"1 2 3 4 5 6\n", 6, {1, 2, 3, 4, 5, 6}},
      {"  1\t2 3 4 5 6 7 8", 6, {1, 2, 3, 4, 5, 6}},
      {"1 2 x 4 5 6\n", 2, {1, 2, -1, -1, -1, -1}},
      {"1 2\n", 2, {1, 2, -1, -1, -1, -1}},
      {"\n", 0, {-1, -1, -1, -1, -1, -1}},
      {"1,2 3 4 5 6", 1, {1, -1, -1, -1, -1, -1}},
      {"1e3 .5 -2. +7 0x10 inf", 6, {1000, 0.5f, -2, 7, 16, INFINITY}},
  };
  for (const Case& c : cases) {
    float f[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(scan_fields(c.line, c.line + std::strlen(c.line), f, 6), c.got) << c.line;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(f[k], c.expect[k]) << c.line << " field " << k;
  }
  // A NUL byte ends the line for the scan.
  float f[6] = {-1, -1, -1, -1, -1, -1};
  const char nul[] = "1 2\0 3 4 5 6";
  EXPECT_EQ(scan_fields(nul, nul + sizeof nul - 1, f, 6), 2);
  EXPECT_EQ(f[2], -1);
}

struct Passes {
  Record best;
  std::size_t count = 0;
  std::vector<Record> records;  // pass 2
};

Passes both_passes(std::string_view text) {
  ResampleReader r(text);
  Passes p;
  p.best = r.best();
  while (r.next_tensor()) ++p.count;
  r.restart();
  for (std::size_t i = 0; i < p.count; ++i) p.records.push_back(r.next_record(true));
  return p;
}

std::vector<float> fields(const Record& r) {
  const Solution& s = r.solution;
  std::vector<float> v(r.tensor.s, r.tensor.s + 6);
  v.push_back(s.phi);
  for (const Axis& a : s.axis) {
    v.push_back(a.trend);
    v.push_back(a.plunge);
  }
  return v;
}

using F = std::vector<float>;

TEST(ResampleReader, CountsEveryRecordTheLinesStart) {
  const std::string best = "1 0 0 0 0 -1\n0.5 355 10 120 5 240 78\n";
  const std::string rec = "1 0.1 0 0 0 -1\n0.45 0 12 125 3 250 80\n";
  EXPECT_EQ(both_passes(best).count, 0u);
  EXPECT_EQ(both_passes(best + rec + rec).count, 2u);
  // A blank line after the last record is one more record, repeating the last.
  Passes p = both_passes(best + rec + "\n");
  ASSERT_EQ(p.count, 2u);
  EXPECT_EQ(fields(p.records[1]), fields(p.records[0]));
  // A last line without a newline counts.
  EXPECT_EQ(both_passes(best + rec + "2 0 0 0 0 1").count, 2u);
  // Lines longer than any buffer keep the records paired.
  std::string wide = "1 0.1 0 0 0 -1" + std::string(300, ' ') + "\n";
  p = both_passes(best + wide + "0.45 0 12 125 3 250 80\n" + rec);
  ASSERT_EQ(p.count, 2u);
  EXPECT_EQ(fields(p.records[0]), fields(p.records[1]));
}

TEST(ResampleReader, BestFitRecordFromShortFiles) {
  // A single line: the solution is scanned from it too; pl3 has no value.
  Passes p = both_passes("1 2 3 4 5 6\n");
  EXPECT_EQ(p.count, 0u);
  EXPECT_EQ(fields(p.best), (F{1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6, 0}));
  // Fields that do not parse and have no earlier value are 0.
  p = both_passes("1 2 x\n0.5 10\n");
  EXPECT_EQ(fields(p.best), (F{1, 2, 0, 0, 0, 0, 0.5f, 10, 0, 0, 0, 0, 0}));
}

TEST(ResampleReader, FieldsThatDoNotParseCarryOver) {
  Passes p = both_passes(
      "1 0 0 0 0 -1\n0.5 355 10 120 5 240 78\n"
      "7 7 7 7 7 7\n0.1 1 2 3 4 5 6\n"
      "8 8 x\n0.2 11 12 y\n"
      "9 9 9 9 9 9\n0.3 21 22 23 24 25 26\n");
  ASSERT_EQ(p.count, 3u);
  EXPECT_EQ(fields(p.records[1]), (F{8, 8, 7, 7, 7, 7, 0.2f, 11, 12, 3, 4, 5, 6}));
  // The best-fit record is held apart: a resample never takes its values.
  EXPECT_EQ(fields(p.best), (F{1, 0, 0, 0, 0, -1, 0.5f, 355, 10, 120, 5, 240, 78}));
}

TEST(ResampleReader, FirstRecordOfPassTwoStartsFromPassOne) {
  // Tensor fields carry the last values of pass 1; solution fields, which
  // pass 1 never parses, start at 0.
  Passes p = both_passes(
      "1 0 0 0 0 -1\n0.5 355 10 120 5 240 78\n"
      "1 2\n0.1 1 2\n"
      "3 4 5 6 7 8\n0.2 11 12 13 14 15 16\n");
  ASSERT_EQ(p.count, 2u);
  EXPECT_EQ(fields(p.records[0]), (F{1, 2, 5, 6, 7, 8, 0.1f, 1, 2, 0, 0, 0, 0}));
}

TEST(ResampleReader, MissingFinalSolutionLineIsScannedFromItsTensorLine) {
  Passes p = both_passes(
      "1 0 0 0 0 -1\n0.5 355 10 120 5 240 78\n"
      "7 7 7 7 7 7\n0.1 1 2 3 4 5 6\n"
      "1 2 3 4 5 6\n");
  ASSERT_EQ(p.count, 2u);
  EXPECT_EQ(fields(p.records[1]), (F{1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6, 6}));
}

}  // namespace
}  // namespace tilvex
