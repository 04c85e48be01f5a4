#include "formats/health.hpp"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <vector>

#include "run/in_place.hpp"

namespace tilvex::formats {
namespace {

constexpr const char* kTensor = "1 0 0 0 0 -1\n";
constexpr const char* kSolution = "0.5 10 20 120 5 240 78\n";

std::string clean(int records) {
  std::string t;
  for (int k = 0; k < records; ++k) t += std::string(kTensor) + kSolution;
  return t;
}

// code:line:count, ';'-separated: what a finding IS, apart from its words.
std::string summary(const std::vector<HealthNote>& notes) {
  std::string s;
  for (const HealthNote& n : notes)
    s += (s.empty() ? "" : ";") + n.code + ":" + std::to_string(n.line) + ":" + std::to_string(n.count);
  return s;
}

// The findings an analysis gathers as it reads `text`, as one or, where it
// splits, in parts on two threads.
std::vector<HealthNote> watched(std::string text, bool parts = false, int* split = nullptr) {
  HealthWatch watch;
  const RunTexts t = analyse_in_place(std::span<char>(text.data(), text.size()), 95.0f, Grid{1, 2, 3, 4},
                                      {.watcher = &watch, .threads = parts ? 2u : 1u, .parts_from = 0});
  if (split != nullptr && !t.later.empty()) ++*split;
  return watch.notes("'f.vrin'");
}

// Each kind of finding on a small text: its code, the line of its first
// case and how many cases; a clean file (and values at the very bounds)
// gives nothing.
TEST(Health, EachKindCountedFromItsFirstLine) {
  const std::string t = kTensor, s = kSolution;
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {clean(3), ""},
      {clean(1) + kTensor + "1 0 90 0 -90 -0 90.0\n" + kTensor + "0 0 -90.000 0 0 0 0\n", ""},
      {clean(1) + kTensor + "-0 1 2 3 4 5 6\n", ""},                 // -0 is not below 0
      {clean(1) + kTensor + "1.00000001 1 2 3 4 5 6\n", ""},         // reads as 1.0f
      {clean(1) + kTensor + "0.5 1 90.000001 3 4 5 6\n", ""},        // reads as 90.0f
      {clean(2) + kTensor, "cut:5:1"},
      {kTensor, "cut:1:1"},
      {clean(2) + "1 0 0 0 0 -1", "cut:5:1"},  // without its newline
      {clean(1) + s + t + clean(1), "swapped:3:1"},
      {clean(1) + s + t + s + t + clean(1), "swapped:3:2"},
      {clean(1) + "1 0\n" + s + t + "0.5 1 2\n" + "\n" + s, "fields:3:3"},
      {clean(1) + t + "0.5 10 20 120 5 240 78 9\n", "fields:3:1"},
      {clean(2) + t + "1.5 1 2 3 4 5 6\n" + t + "-0.1 1 2 3 4 5 6\n" + t + "2e0 1 2 3 4 5 6\n", "phi:6:3"},
      {clean(1) + t + "0.5 1 91 3 4 5 6\n" + t + "0.5 1 2 3 -90.5 5 6\n" + t + "0.5 1 2 3 4 5 1e3\n",
       "plunge:4:3"},
      {clean(1) + "1 nan 0 0 0 0\n" + s + t + "0.5 1 2 3 4 5 -INF\n" + t + "0.5 1 2 3 4 5 1e39\n",
       "nonfinite:3:3"},
      {"1 2 3 4 5 6 7\n" + s, "wide:1:1;fields:1:1"},
      {clean(1) + t + "7 1 2 3 4 5 6\n" + t, "cut:5:1;phi:4:1"},
      {clean(1) + t + "0.5 1 nan 3 4 5 6\n", "nonfinite:4:1"},  // nan is not also an odd plunge
      // Tabs, carriage returns and long numbers, read 8 bytes at a time.
      {clean(1) + "1\t0\t0\t0\t0\t-1\r\n0.5\t1\t95\t3\t4\t5\t6\r\n", "plunge:4:1"},
      {clean(1) + t + "0.5 1 2 3 4 5 " + std::string(39, '9') + "\n", "nonfinite:4:1"},
      {clean(1) + t + "0.5 1 2 3 4 5 " + std::string(38, '9') + "\n", "plunge:4:1"},
      {clean(1) + "1 0 0 0 0 " + std::string(39, '9') + "\n" + s, "nonfinite:3:1"},
      {clean(1) + "1 0 0 0 0\x01-1\n" + s, "fields:3:1"},  // a control byte is no blank
  };
  for (const Case& c : cases) {
    EXPECT_EQ(summary(health_of(c.text, "'f.vrin'")), c.expected) << c.text;
    EXPECT_EQ(summary(watched(c.text)), c.expected) << c.text;
  }
}

// What an analysis gathers as it reads a file is what reading the file
// whole finds, word for word, on texts of every kind of line: numbers
// plain, with exponents, too large for a float, nan and inf, partial
// tokens, junk, odd blanks, too few and too many of them, a last line
// without its newline.
TEST(Health, AsTheAnalysisReadsItSoTheWholeFile) {
  const std::vector<std::string> words = {
      "1", "-0.5", "0.5", "7", "90", "-90", "90.0", "-90.5", "91", "120.25", "1e3", "1.5E-2", "+2.5e+01",
      "-9.0000000e+01", "9.00000038e+01", "0.99999999999999999", "1.0000001", "-0", ".5", "5.", "nan", "-INF",
      "inf", "1e39", "3.4028236e38", "1e-50", "0x1p3", "1.5x", "+", "-", "e5", ",", "\x01", std::string(39, '9'),
      std::string(38, '9'), "0000000000000000000000000000000001.5", std::string("1\0", 3)};
  const std::vector<std::string> blanks = {" ", " ", " ", "\t", "  ", "\r", "\v"};
  std::mt19937 random(2026);
  int split = 0;
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  for (int trial = 0; trial < 20000; ++trial) {
    std::string text;
    const std::size_t lines = 1 + pick(12);
    for (std::size_t l = 0; l < lines; ++l) {
      const std::size_t usual = l % 2 == 0 ? 6 : 7;
      const std::size_t tokens = pick(4) != 0 ? usual : pick(10);
      for (std::size_t k = 0; k < tokens; ++k) {
        if (k > 0 || pick(8) == 0) text += blanks[pick(blanks.size())];
        text += pick(3) != 0 ? words[pick(7)] : words[pick(words.size())];
      }
      if (pick(10) == 0) text += blanks[pick(blanks.size())];
      if (l + 1 < lines || pick(2) == 0) text += pick(8) == 0 ? "\r\n" : "\n";
    }
    const std::vector<HealthNote> whole = health_of(text, "'f.vrin'");
    for (const std::vector<HealthNote>& read : {watched(text), watched(text, true, &split)}) {
      ASSERT_EQ(summary(read), summary(whole)) << text;
      for (std::size_t k = 0; k < whole.size(); ++k) ASSERT_EQ(read[k].text, whole[k].text) << text;
    }
  }
  EXPECT_GT(split, 500);  // the parts' findings joined
}

// The words: one line naming the file, the line and the meaning, the
// count where it repeats; the unread note is the text tilvex has always
// printed, and the codes join with ';'.
TEST(Health, EachFindingIsOneLineOfWords) {
  const std::string t = kTensor;
  auto notes = health_of(clean(1) + t + "2 1 2 3 4 5 6\n" + t + "3 1 2 3 4 5 6\n" + t, "'f.vrin'");
  Analysis a;
  a.unread_fields = 2;
  a.first_unread_line = 5;
  a.first_unread_field = 3;
  add_unread(notes, "'f.vrin'", a);
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].text,
            "'f.vrin': the file ends inside a record: the last record, at line 7, has no solution line: its "
            "phi and axes were read from its tensor line");
  EXPECT_EQ(notes[1].text,
            "'f.vrin': 2 records: phi outside [0, 1], the first at line 4; the range of phi was taken over the "
            "values as they are");
  EXPECT_EQ(notes[2].text,
            "2 fields of 'f.vrin' did not read as numbers and kept the values before them; the first is field 3 "
            "of line 5");
  EXPECT_EQ(note_codes(notes), "cut;phi;unread");
  EXPECT_EQ(health_of(clean(1) + t + "0.5 1 2 3 4 5 6 7\n", "'g'")[0].text,
            "'g': 1 record: its lines do not hold 6, then 7 numbers, at line 3; a number missing kept the value "
            "before it, and one past the sixth or seventh was not read");
  std::vector<HealthNote> none;
  add_unread(none, "'f.vrin'", Analysis{});
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace tilvex::formats
