// End-to-end: appends are whole, all or nothing, and safe beside other runs
// on the same files.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";

struct Texts {
  std::string summary, lines;
};

// What one run appends when it is alone, to fresh files.
Texts alone(const ScratchDir& dir, const std::string& level, const std::string& grid) {
  const std::string out = dir / ("alone-" + grid + ".txt"), out2 = dir / ("alone2-" + grid + ".txt");
  run(TILVEX_BINARY, {kRealistic, out, level, out2, grid, "0", "0", "1"}, dir / "stdout");
  Texts t{slurp(out), slurp(out2)};
  fs::remove(out);
  fs::remove(out2);
  return t;
}

std::vector<std::string> args(const ScratchDir& dir, const std::string& out,
                              const std::string& out2) {
  return {kRealistic, dir / out, "95", dir / out2, "1", "0", "0", "1"};
}

// A write that cannot be completed undoes the whole append: both files are
// byte for byte what they held before.
TEST(Appends, FileSizeLimitLeavesBothFilesAsTheyWere) {
  ScratchDir dir;
  const Texts expected = alone(dir, "95", "1");
  ASSERT_GT(expected.lines.size(), 100000u);
  struct Case {
    std::size_t held, held2;  // bytes in output_file and output_file2 before the run
    long limit;
    int status;
    const char* failed;
  };
  const long room = static_cast<long>(expected.lines.size()) + 5000;
  const Case cases[] = {
      // The lines stop part-way through.
      {100, 1000, 1000 + 5000, 252, "out2.txt"},
      // The lines fit; the summary does not, so the lines are taken back too.
      {static_cast<std::size_t>(room) - 50, 100, room, 213, "out.txt"},
  };
  for (const Case& c : cases) {
    const std::string before(c.held, 'a'), before2(c.held2 - 1, 'b');
    spill(dir / "out.txt", before);
    spill(dir / "out2.txt", before2 + "\n");
    Outcome o = run(TILVEX_BINARY, args(dir, "out.txt", "out2.txt"), dir / "stdout",
                    Launch{"/dev/null", c.limit});
    EXPECT_EQ(o.status, c.status);  // not killed by SIGXFSZ
    EXPECT_EQ(o.printed, "unable to write " + dir / c.failed + "\n");
    EXPECT_EQ(slurp(dir / "out.txt"), before);
    EXPECT_EQ(slurp(dir / "out2.txt"), before2 + "\n");
  }
  // One file named twice: cut back once, to what it held.
  spill(dir / "both.txt", "kept\n");
  Outcome o = run(TILVEX_BINARY, args(dir, "both.txt", "both.txt"), dir / "stdout",
                  Launch{"/dev/null", 20000});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(slurp(dir / "both.txt"), "kept\n");
}

TEST(Appends, OneFileForBothTakesTheLinesThenTheSummary) {
  ScratchDir dir;
  const Texts expected = alone(dir, "95", "1");
  spill(dir / "both.txt", "kept\n");
  ASSERT_EQ(run(TILVEX_BINARY, args(dir, "both.txt", "both.txt"), dir / "stdout").status, 0);
  EXPECT_EQ(slurp(dir / "both.txt"), "kept\n" + expected.lines + expected.summary);
}

// A run waits for a lock another process holds, and appends nothing until
// it has it.
TEST(Appends, WaitsForTheLock) {
  ScratchDir dir;
  const Texts expected = alone(dir, "95", "1");
  spill(dir / "out2.txt", "");
  const int fd = open((dir / "out2.txt").c_str(), O_RDWR);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(fd, F_SETLK, &whole), 0);
  const pid_t pid = start(TILVEX_BINARY, args(dir, "out.txt", "out2.txt"), dir / "stdout");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int ws = 0;
  EXPECT_EQ(waitpid(pid, &ws, WNOHANG), 0) << "the run did not wait";
  EXPECT_EQ(slurp(dir / "out2.txt"), "");
  EXPECT_EQ(slurp(dir / "out.txt"), "");
  close(fd);  // lets it go
  EXPECT_EQ(finish(pid), 0);
  EXPECT_EQ(slurp(dir / "out2.txt"), expected.lines);
  EXPECT_EQ(slurp(dir / "out.txt"), expected.summary);
}

// Sixteen runs at once on the same two files: every line whole, each run's
// lines together and equal to what it gives alone, none lost.
TEST(Appends, SixteenRunsAtOnce) {
  ScratchDir dir;
  const int kRuns = 16;
  std::map<std::string, Texts> expected;  // by grid index
  std::vector<std::string> levels;
  for (int r = 0; r < kRuns; ++r) {
    const std::string grid = std::to_string(100 + r);
    levels.push_back(std::to_string(50 + 3 * r));
    expected[grid] = alone(dir, levels.back(), grid);
  }
  std::vector<pid_t> pids;
  for (int r = 0; r < kRuns; ++r)
    pids.push_back(start(TILVEX_BINARY,
                         {kRealistic, dir / "out.txt", levels[r], dir / "out2.txt",
                          std::to_string(100 + r), "0", "0", "1"},
                         dir / ("stdout" + std::to_string(r))));
  for (pid_t pid : pids) EXPECT_EQ(finish(pid), 0);

  std::vector<std::string> summaries, wanted;
  std::istringstream out(slurp(dir / "out.txt"));
  for (std::string line; std::getline(out, line);) summaries.push_back(line + "\n");
  for (const auto& [grid, t] : expected) wanted.push_back(t.summary);
  std::sort(summaries.begin(), summaries.end());
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(summaries, wanted);

  // output_file2 as blocks of lines with one grid index each.
  const std::string all = slurp(dir / "out2.txt");
  ASSERT_EQ(all.back(), '\n');
  std::map<std::string, std::string> blocks;
  std::string current;
  std::size_t at = 0;
  while (at < all.size()) {
    const std::size_t end = all.find('\n', at) + 1;
    const std::string line = all.substr(at, end - at);
    const std::string grid = line.substr(0, line.find(' '));
    ASSERT_EQ(std::count(line.begin(), line.end(), ' '), 10) << "broken line: " << line;
    if (grid != current) {
      ASSERT_EQ(blocks.count(grid), 0u) << "the lines of run " << grid << " are split";
      current = grid;
    }
    blocks[grid] += line;
    at = end;
  }
  ASSERT_EQ(blocks.size(), expected.size());
  for (const auto& [grid, t] : expected) EXPECT_EQ(blocks[grid], t.lines) << "run " << grid;
}

}  // namespace
}  // namespace tilvex::test
