// End-to-end runs of the built program: what a user sees on standard output,
// the exit status and the files left behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kUsage =
    "usage: tilvex.exe *.vrin output_file confidence_level output_file2 xgrid ygrid zgrid tgrid\n";
const std::string kData = TILVEX_TEST_DATA;

class Cli : public ::testing::Test {
 protected:
  Outcome tilvex(const std::vector<std::string>& args, const char* stdin_path = "/dev/null",
                 const std::string& program = TILVEX_BINARY) {
    return run(program, args, dir.path().parent_path() / (dir.path().filename().string() + ".out"),
               stdin_path);
  }
  // A run with the usual arguments, appending to out.txt and out2.txt.
  Outcome tilvex_on(const std::string& input, const std::string& level = "75") {
    return tilvex({input, dir / "out.txt", level, dir / "out2.txt", "3", "7", "0", "1"});
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  void TearDown() override {
    fs::remove(dir.path().parent_path() / (dir.path().filename().string() + ".out"));
  }
  ScratchDir dir;
};

using Names = std::vector<std::string>;

TEST_F(Cli, WrongArgumentCountPrintsUsage) {
  for (const auto& args : {std::vector<std::string>{},
                           std::vector<std::string>(7, dir / "x"),
                           std::vector<std::string>(9, dir / "x")}) {
    Outcome o = tilvex(args);
    EXPECT_EQ(o.status, 215);
    EXPECT_EQ(o.printed, kUsage);
    EXPECT_EQ(files(), Names{});
  }
}

TEST_F(Cli, InputThatCannotBeOpenedOrRead) {
  spill(dir / "empty.vrin", "");
  fs::create_directory(dir / "sub");
  struct Case {
    std::string arg, message;
  };
  const Case cases[] = {
      {dir / "missing.vrin", "unable to open " + dir / "missing.vrin" + "\n"},
      {"", "unable to open \n"},
      {" \t ", "unable to open \n"},
      {dir / "empty.vrin", "unable to read " + dir / "empty.vrin" + "\n"},
      {dir / "sub", "unable to read " + dir / "sub" + "\n"},
  };
  for (const Case& c : cases) {
    Outcome o = tilvex_on(c.arg);
    EXPECT_EQ(o.status, 214) << c.arg;
    EXPECT_EQ(o.printed, c.message);
    EXPECT_EQ(files(), (Names{"empty.vrin", "sub"})) << "no output is created";
  }
}

TEST_F(Cli, OutputsThatCannotBeOpened) {
  const std::string input = kData + "/worked.vrin";
  const std::string nowhere = dir / "no/such/dir";
  Outcome o = tilvex({input, nowhere, "75", dir / "out2.txt", "3", "7", "0", "1"});
  EXPECT_EQ(o.status, 213);
  EXPECT_EQ(o.printed, "unable to open " + nowhere + "\n");
  EXPECT_EQ(files(), Names{});

  // output_file is opened first, so it is created (empty) before output_file2 fails.
  o = tilvex({input, dir / "out.txt", "75", nowhere, "3", "7", "0", "1"});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to open " + nowhere + "\n");
  EXPECT_EQ(files(), Names{"out.txt"});
  EXPECT_EQ(slurp(dir / "out.txt"), "");

  o = tilvex({input, dir / "out.txt", "75", "   ", "3", "7", "0", "1"});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to open \n");
}

// An input replaced (by rename) while runs read it, for seconds: were its
// inode number freed once a run has read it, an output the run creates
// next could get it, and be refused as the input though it is not.
TEST_F(Cli, AnInputReplacedMeanwhileIsNeverTakenForAnOutput) {
  const std::string text = slurp(kData + "/worked.vrin");
  spill(dir / "in.vrin", text);
  std::atomic<bool> stop = false;
  std::thread replacer([&] {
    while (!stop) {
      spill(dir / "in.new", text);
      fs::rename(dir / "in.new", dir / "in.vrin");
    }
  });
  int runs = 0, refused = 0;
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
       std::chrono::steady_clock::now() < until; ++runs) {
    fs::remove(dir / "s"), fs::remove(dir / "a");
    const Outcome o = tilvex({dir / "in.vrin", dir / "s", "95", dir / "a", "1", "2", "3", "4"});
    if (o.status != 0) ++refused;
    EXPECT_EQ(o.printed, "") << o.status;
  }
  stop = true;
  replacer.join();
  EXPECT_EQ(refused, 0) << "of " << runs << " runs";
  EXPECT_GT(runs, 5);  // (a run under the sanitizers takes longer)
}

TEST_F(Cli, NumericArgumentsThatDoNotParsePrintUsage) {
  const std::string input = kData + "/worked.vrin";
  const std::vector<std::vector<std::string>> bad = {
      {"abc", "3", "7", "0", "1"}, {"nan", "3", "7", "0", "1"}, {"", "3", "7", "0", "1"},
      {"75", "x3", "7", "0", "1"}, {"75", "3", "2147483648", "0", "1"},
      {"75", "3", "7", "-2147483649", "1"}, {"75", "3", "7", "0", "+"},
      {"75", "18446744073709551617", "7", "0", "1"},  // 2^64 + 1
  };
  for (const auto& v : bad) {
    Outcome o = tilvex({input, dir / "out.txt", v[0], dir / "out2.txt", v[1], v[2], v[3], v[4]});
    EXPECT_EQ(o.status, 215) << v[0] << ' ' << v[1] << ' ' << v[2] << ' ' << v[3] << ' ' << v[4];
    EXPECT_EQ(o.printed, kUsage);
    EXPECT_EQ(files(), Names{}) << "a wrong command line creates no file";
  }
  // A leading number is taken as the standard scan takes it, up to the
  // edges of int.
  Outcome o = tilvex({input, dir / "out.txt", "75abc", dir / "out2.txt", " 3", "+7", "-0", "1x"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.printed, "");
  fs::remove(dir / "out2.txt");
  o = tilvex({input, dir / "out.txt", "75", dir / "out2.txt", "2147483647", "-2147483648", "0",
              "1"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(slurp(dir / "out2.txt").rfind("2147483647 -2147483648 0 1 0.450000", 0), 0u);
}

// Which fault is reported when a run has several: the input first (214),
// then the numbers (215), then output_file (213), then output_file2 (252).
// Regression: the numbers were read after output_file was opened, so a level
// and an output_file given the other way round left an empty file named
// after the level (and an unopenable output_file hid a wrong number).
TEST_F(Cli, FaultsAreReportedInTheOrderOfTheChecks) {
  const std::string input = kData + "/worked.vrin", missing = dir / "missing.vrin";
  const std::string nowhere = dir / "no/such/dir", out = dir / "out.txt", out2 = dir / "out2.txt";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string printed;
  };
  const Case cases[] = {
      // The level and output_file swapped: no file named "95".
      {{input, dir / "95", out, out2, "1", "2", "3", "4"}, 215, kUsage},
      {{input, out, "95", out2, "1", "2", "x", "4"}, 215, kUsage},
      {{missing, out, "x", out2, "1", "2", "3", "4"}, 214, "unable to open " + missing + "\n"},
      {{missing, nowhere, "95", nowhere, "1", "2", "3", "4"}, 214, "unable to open " + missing + "\n"},
      {{input, nowhere, "x", out2, "1", "2", "3", "4"}, 215, kUsage},
      {{input, out, "x", nowhere, "1", "2", "3", "4"}, 215, kUsage},
      {{input, nowhere, "95", nowhere, "1", "2", "3", "4"}, 213, "unable to open " + nowhere + "\n"},
  };
  for (const Case& c : cases) {
    const Outcome o = tilvex(c.args);
    EXPECT_EQ(o.status, c.status) << c.args[1] << ' ' << c.args[2];
    EXPECT_EQ(o.printed, c.printed) << c.args[1] << ' ' << c.args[2];
    EXPECT_EQ(files(), Names{}) << c.args[1] << ' ' << c.args[2];
  }
}

TEST_F(Cli, FileNamesAreTheFirstWordOfAnyLength) {
  const std::string deep = dir / (std::string(120, 'd') + "/" + std::string(100, 'e') + ".txt");
  fs::create_directories(fs::path(deep).parent_path());
  Outcome o = tilvex({"  " + kData + "/worked.vrin trailing words", deep, "75",
                      dir / "out put.txt", "3", "7", "0", "1"});
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(fs::exists(deep));
  EXPECT_TRUE(fs::exists(dir / "out"));
  EXPECT_FALSE(fs::exists(dir / "out put.txt"));
}

TEST_F(Cli, AppendsAndKeepsWhatTheFilesHeld) {
  spill(dir / "out.txt", "earlier summary\n");
  spill(dir / "out2.txt", "earlier line\n");
  const std::string input = kData + "/worked.vrin";
  ASSERT_EQ(tilvex_on(input).status, 0);
  ASSERT_EQ(tilvex_on(input).status, 0);
  const std::string summary = slurp(dir / "out.txt");
  ASSERT_EQ(summary.rfind("earlier summary\n", 0), 0u);
  const std::string line = summary.substr(16, summary.size() / 2 - 8);
  EXPECT_EQ(summary, "earlier summary\n" + line + line);
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 3);
  EXPECT_EQ(slurp(dir / "out2.txt").rfind("earlier line\n", 0), 0u);
}

// Through a pipe the input buffer grows as the data comes: the realistic
// example needs it to grow twice.
TEST_F(Cli, ReadsAPipe) {
  const std::string input = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";
  ASSERT_GT(fs::file_size(input), 2u << 16);
  ASSERT_EQ(tilvex_on(input).status, 0);
  const std::string from_file = slurp(dir / "out.txt"), lines = slurp(dir / "out2.txt");
  fs::remove(dir / "out.txt");
  fs::remove(dir / "out2.txt");
  Outcome o = tilvex({"-c", "cat \"$0\" | \"$1\" /dev/stdin \"$2\" 75 \"$3\" 3 7 0 1", input,
                      TILVEX_BINARY, dir / "out.txt", dir / "out2.txt"},
                     "/dev/null", "/bin/sh");
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(slurp(dir / "out.txt"), from_file);
  EXPECT_EQ(slurp(dir / "out2.txt"), lines);
}

// An output that is the input itself is refused before anything is
// written: the data stays as it was.
TEST_F(Cli, TheInputIsNeverAnOutput) {
  const std::string input = dir / "in.vrin";
  spill(input, slurp(kData + "/worked.vrin"));
  const std::string before = slurp(input);
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{input, input, "75", dir / "out2.txt", "3", "7", "0", "1"}, 213},
      {{input, dir / "out.txt", "75", input, "3", "7", "0", "1"}, 252},
  };
  for (const Case& c : cases) {
    Outcome o = tilvex(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.printed, "unable to open " + input + "\n");
    EXPECT_EQ(slurp(input), before);
  }
  EXPECT_FALSE(fs::exists(dir / "out2.txt"));
}

TEST_F(Cli, FailedWriteIsReported) {
  const std::string input = kData + "/worked.vrin";
  Outcome o = tilvex({input, "/dev/full", "75", dir / "out2.txt", "3", "7", "0", "1"});
  EXPECT_EQ(o.status, 213);
  EXPECT_EQ(o.printed, "unable to write /dev/full\n");

  // output_file2 is written first; when it fails, no summary line follows.
  spill(dir / "out.txt", "kept\n");
  o = tilvex({input, dir / "out.txt", "75", "/dev/full", "3", "7", "0", "1"});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to write /dev/full\n");
  EXPECT_EQ(slurp(dir / "out.txt"), "kept\n");
}

}  // namespace
}  // namespace tilvex::test
