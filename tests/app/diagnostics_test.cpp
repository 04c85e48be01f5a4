// End-to-end: what the programs say when they are given something they
// cannot use, or something that may not mean what the user meant. Standard
// output and the status stay as scripts know them; the reason or warning
// is one line on standard error; nothing is touched where a run is refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kData = TILVEX_TEST_DATA;
const std::string kWorked = kData + "/worked.vrin";

struct Said {
  int status;
  std::string out, err;
};

Said run_said(const ScratchDir& dir, const std::string& program, const std::vector<std::string>& args,
              Launch how = {}) {
  how.stderr_path = dir / "stderr";
  const Outcome o = run(program, args, dir / "stdout", how);
  return {o.status, o.printed, slurp(dir / "stderr")};
}

TEST(Diagnostics, InputsThatAreNotResampleResultsFilesAreRefusedBeforeAnyOutput) {
  ScratchDir dir;
  // The input and output_file swapped: the summary file is not read as data,
  // and the data file is not appended to.
  spill(dir / "run.vrin", slurp(kWorked));
  spill(dir / "s.txt",
        "phi= 0.50 0.40 0.55 tr1=  355.00  350.00  360.00 pl1=  10.00   7.00  12.00 tr2= ...\n");
  struct Case {
    std::string name, content, why;
  };
  const Case cases[] = {
      {"s.txt", "", "its first line does not begin with a number"},
      {"table.csv", "s11,s12,s13\n1,0,0\n", "its first line does not begin with a number"},
      {"blank.vrin", "\n1 0 0 0 0 -1\n", "its first line is blank"},
      {"data.gz", std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10), "does not begin with a number"},
  };
  for (const Case& c : cases) {
    if (!c.content.empty()) spill(dir / c.name, c.content);
    const Said s = run_said(dir, TILVEX_BINARY, {dir / c.name, dir / "run.vrin", "95", dir / "a.txt", "1", "2", "3", "4"});
    EXPECT_EQ(s.status, 214) << c.name;
    EXPECT_EQ(s.out, "unable to read " + dir / c.name + "\n");
    EXPECT_EQ(s.err, "tilvex: '" + dir / c.name + "' is not a resample results file: " +
                         s.err.substr(s.err.find(": its") + 2))
        << s.err;
    EXPECT_NE(s.err.find(c.why), std::string::npos) << s.err;
    EXPECT_EQ(slurp(dir / "run.vrin"), slurp(kWorked));
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
  }
}

TEST(Diagnostics, EveryFailureSaysWhy) {
  ScratchDir dir;
  fs::create_directory(dir / "sub");
  spill(dir / "empty.vrin", "");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{dir / "missing.vrin", dir / "s", "95", dir / "a", "1", "2", "3", "4"}, 214,
       "tilvex: cannot open '" + dir / "missing.vrin" + "': No such file or directory\n"},
      {{dir / "sub", dir / "s", "95", dir / "a", "1", "2", "3", "4"}, 214,
       "tilvex: cannot read '" + dir / "sub" + "': Is a directory\n"},
      {{dir / "empty.vrin", dir / "s", "95", dir / "a", "1", "2", "3", "4"}, 214,
       "tilvex: '" + dir / "empty.vrin" + "' is empty\n"},
      {{kWorked, dir / "no/s.txt", "95", dir / "a", "1", "2", "3", "4"}, 213,
       "tilvex: cannot append to '" + dir / "no/s.txt" + "': No such file or directory\n"},
      {{kWorked, dir / "s", "95", dir / "sub", "1", "2", "3", "4"}, 252,
       "tilvex: cannot append to '" + dir / "sub" + "': Is a directory\n"},
      {{kWorked, dir / "s", "95", "/dev/full", "1", "2", "3", "4"}, 252,
       "tilvex: cannot write to '/dev/full': No space left on device\n"},
      {{kWorked, dir / "s", "abc", dir / "a", "1", "2", "3", "4"}, 215,
       "tilvex: confidence_level 'abc' is not a number\n"},
      {{kWorked, dir / "s", "95", dir / "a", "1", "2", "x3", "4"}, 215, "tilvex: zgrid 'x3' is not an int\n"},
      // Both a level and an index that do not read: the level is named.
      {{kWorked, dir / "s", "abc", dir / "a", "x", "0", "0", "0"}, 215,
       "tilvex: confidence_level 'abc' is not a number\n"},
      {{kWorked}, 215, "tilvex: expected 8 arguments, found 1 (tilvex --help tells more)\n"},
  };
  for (const Case& c : cases) {
    const Said s = run_said(dir, TILVEX_BINARY, c.args);
    EXPECT_EQ(s.status, c.status) << c.err;
    EXPECT_EQ(s.err, c.err);
  }
}

TEST(Diagnostics, WarningsLeaveTheStatus) {
  ScratchDir dir;
  struct Case {
    std::string input, level, x;
    std::string err;
  };
  const Case cases[] = {
      {kWorked, "0.95", "1", "tilvex: warning: 0.95 is read as 0.95 per cent; for 95 per cent write 95\n"},
      {kWorked, "1", "1", "tilvex: warning: 1 is read as 1 per cent; for 100 per cent write 100\n"},
      {kWorked, "-5", "1", "tilvex: warning: a confidence level of -5 per cent keeps only the most similar resamples\n"},
      {kWorked, "150", "1", "tilvex: warning: a confidence level above 100 per cent (150) keeps every resample\n"},
      {kWorked, "95x", "1", "tilvex: warning: confidence_level '95x' is read as '95' (the rest is ignored)\n"},
      {kWorked, "95", "1.5", "tilvex: warning: xgrid '1.5' is read as '1' (the rest is ignored)\n"},
      {kData + "/unparsed-fields.vrin", "75", "1",
       "tilvex: warning: '" + kData + "/unparsed-fields.vrin': 2 records: its lines do not hold 6, then 7 "
       "numbers, the first at line 5; a number missing kept the value before it, and one past the sixth or "
       "seventh was not read\n"
       "tilvex: warning: 9 fields of '" + kData + "/unparsed-fields.vrin' did not read as numbers and "
       "kept the values before them; the first is field 2 of line 5\n"},
      // The file's health, after the warnings on the arguments.
      {kData + "/missing-solution.vrin", "0.95", "1",
       "tilvex: warning: 0.95 is read as 0.95 per cent; for 95 per cent write 95\n"
       "tilvex: warning: '" + kData + "/missing-solution.vrin': the file ends inside a record: the last "
       "record, at line 5, has no solution line: its phi and axes were read from its tensor line\n"
       "tilvex: warning: 1 field of '" + kData + "/missing-solution.vrin' did not read as numbers and kept the "
       "values before them; the first is field 7 of line 5\n"},
  };
  for (const Case& c : cases) {
    fs::remove(dir / "s");
    const Said s = run_said(dir, TILVEX_BINARY, {c.input, dir / "s", c.level, dir / "a", c.x, "2", "3", "4"});
    EXPECT_EQ(s.status, 0) << c.err;
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, c.err);
    const std::string summary = slurp(dir / "s");
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 1);
  }
  // An accepted-resamples file given as input reads, with a warning.
  spill(dir / "acc.vrin", "3 7 0 1 0.45 0 12 125 3 250 80\n3 7 0 1 0.55 350 7 300 -4 235 75\n");
  const Said s = run_said(dir, TILVEX_BINARY, {dir / "acc.vrin", dir / "s", "95", dir / "a", "1", "2", "3", "4"});
  EXPECT_EQ(s.status, 0);
  EXPECT_NE(s.err.find("holds more than six numbers"), std::string::npos);
}

TEST(Diagnostics, OutOfMemoryIsToldApart) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit allows";
#endif
  ScratchDir dir;
  const Said s = run_said(
      dir, "/bin/sh", {"-c", "yes | \"$0\" /dev/stdin \"$1\" 95 \"$2\" 1 2 3 4", TILVEX_BINARY, dir / "s", dir / "a"},
      Launch{"/dev/null", -1, "", {}, 256L << 20});
  EXPECT_EQ(s.status, 214);
  EXPECT_EQ(s.out, "unable to read /dev/stdin\n");
  EXPECT_EQ(s.err.rfind("tilvex: /dev/stdin: out of memory after reading ", 0), 0u) << s.err;
}

// However little address space a run of a large input gets, it appends
// one whole run or says it ran out and appends nothing; it never dies of a
// signal (the stack could not grow where a frame of a megabyte was needed).
TEST(Diagnostics, OutOfMemoryAtEveryLimitIsToldOrTheRunIsWhole) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limits allow";
#endif
  ScratchDir dir;
  const fs::path input = dir / "in.vrin";  // 5.1 MB: read as two halves where two processors may be used
  ASSERT_EQ(run_said(dir, TILVEX_GENERATE, {"50000", "7"}).status, 0);
  fs::rename(dir / "stdout", input);
  const std::vector<std::string> args = {input, dir / "s", "95", dir / "a", "1", "2", "3", "4"};
  ASSERT_EQ(run_said(dir, TILVEX_BINARY, args).status, 0);
  const std::string s = slurp(dir / "s"), a = slurp(dir / "a");
  int ran = 0, told = 0;
  for (long kib = 6 << 10; kib <= 24 << 10; kib += 256) {
    fs::remove(dir / "s"), fs::remove(dir / "a");
    const Said said = run_said(dir, TILVEX_BINARY, args, Launch{"/dev/null", -1, "", {}, kib << 10});
    if (said.status == 0) {
      ++ran;
      EXPECT_TRUE(slurp(dir / "s") == s && slurp(dir / "a") == a) << kib << " KiB";
      continue;
    }
    ++told;
    ASSERT_EQ(said.status, 214) << kib << " KiB: " << said.err;
    EXPECT_EQ(said.out, "unable to read " + input.string() + "\n");
    EXPECT_EQ(said.err.rfind("tilvex: " + input.string() + ": out of memory after reading ", 0), 0u) << said.err;
    EXPECT_FALSE(fs::exists(dir / "s") && fs::file_size(dir / "s") > 0) << kib << " KiB";
    EXPECT_FALSE(fs::exists(dir / "a") && fs::file_size(dir / "a") > 0) << kib << " KiB";
  }
  EXPECT_GT(ran, 0);
  EXPECT_GT(told, 0);
}

TEST(Diagnostics, HelpAndVersion) {
  ScratchDir dir;
  for (const char* program : {TILVEX_BINARY, TILVEX_GRID, TILVEX_PLOT, TILVEX_GENERATE}) {
    const std::string name = fs::path(program).filename();
    Said s = run_said(dir, program, {"--version"});
    EXPECT_EQ(s.status, 0) << name;
    EXPECT_EQ(s.out, name + " " + TILVEX_VERSION + "\n");
    s = run_said(dir, program, {"--help"});
    EXPECT_EQ(s.status, 0) << name;
    EXPECT_NE(s.out.find("usage: "), std::string::npos) << name;
    EXPECT_EQ(s.err, "");
  }
  // tilvex-generate takes numbers only.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"foo"}, {"-5"}, {"10", "x"}, {"10", "1", "1e"}}) {
    const Said s = run_said(dir, TILVEX_GENERATE, args);
    EXPECT_EQ(s.status, 2) << args[0];
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err.rfind("tilvex-generate: ", 0), 0u);
  }
}

// --help's table of operands and options: every description starts in one
// column, two spaces after the longest label.
TEST(Diagnostics, HelpDescriptionsStartInOneColumn) {
  ScratchDir dir;
  for (const char* program : {TILVEX_GRID, TILVEX_PLOT}) {
    const std::string name = fs::path(program).filename();
    const Said s = run_said(dir, program, {"--help"});
    ASSERT_EQ(s.status, 0) << name;
    std::istringstream in(s.out);
    std::size_t rows = 0, longest = 0, column = 0;
    for (std::string line; std::getline(in, line);) {
      if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ') continue;  // not a row
      ++rows;
      // The label ends where two spaces begin; its description after them.
      const std::size_t gap = line.find("  ", 2);
      ASSERT_NE(gap, std::string::npos) << name << ": " << line;
      const std::size_t start = line.find_first_not_of(' ', gap);
      ASSERT_NE(start, std::string::npos) << name << ": " << line;
      if (column == 0) column = start;
      EXPECT_EQ(start, column) << name << ": " << line;
      longest = std::max(longest, gap - 2);
    }
    EXPECT_GE(rows, 10u) << name;
    EXPECT_EQ(column, 2 + longest + 2) << name;
    // Every option of the usage is described (--quiet once was not).
    const Said wrong = run_said(dir, program, {"--no-such-option"});
    std::istringstream usage(wrong.err);
    for (std::string word; usage >> word;) {
      const std::size_t dashes = word.find("--");
      if (dashes == std::string::npos) continue;
      std::string option = word.substr(dashes);
      option = option.substr(0, option.find_first_of("]|"));
      if (option == "--no-such-option") continue;
      EXPECT_NE(s.out.find("\n  " + option), std::string::npos) << name << " does not describe " << option;
    }
  }
}

}  // namespace
}  // namespace tilvex::test
