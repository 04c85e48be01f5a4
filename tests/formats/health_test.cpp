#include "formats/health.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  for (const Case& c : cases) EXPECT_EQ(summary(health_of(c.text, "'f.vrin'")), c.expected) << c.text;
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
