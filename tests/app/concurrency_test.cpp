// End-to-end, with runs at once: whole appends under many writers, and a
// run that waits for a lock. These depend on timing, so they are not among
// the quick tests that decide a mutant's fate.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";

Texts alone(const ScratchDir& dir, const std::string& level, const std::string& grid) {
  return run_alone(TILVEX_BINARY, kRealistic, dir, level, grid);
}

std::vector<std::string> args(const ScratchDir& dir, const std::string& out,
                              const std::string& out2) {
  return {kRealistic, dir / out, "95", dir / out2, "1", "0", "0", "1"};
}

// A run waits for a lock another process holds, and appends nothing until
// it has it.
TEST(Appends, WaitsForTheLock) {
  ScratchDir dir;
  const Texts expected = alone(dir, "95", "1");
  spill(dir / "out2.txt", "");
  const int fd = open((dir / "out2.txt").c_str(), O_RDWR);
  ASSERT_TRUE(lock_whole_file(fd));
  const pid_t pid = start(TILVEX_BINARY, args(dir, "out.txt", "out2.txt"), dir / "stdout");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int ws = 0;
  EXPECT_EQ(waitpid(pid, &ws, WNOHANG), 0) << "the run did not wait";
  // Read through the descriptor that holds the lock: closing another one of
  // the same file would release it (POSIX).
  struct stat st {};
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, 0);
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

// SIGKILL at random moments of runs that append 7 MB to files that hold
// data, and SIGSTOP then SIGKILL (a suspended job cancelled): after each,
// one normal run leaves the files with whole runs only, every summary with
// its block, the old bytes intact and no journal behind.
TEST(Appends, KilledAtRandomMomentsLeavesWholeRuns) {
  ScratchDir dir;
  ASSERT_EQ(run(TILVEX_GENERATE, {"100000", "7"}, dir / "big.vrin").status, 0);
  const Texts killed = run_alone(TILVEX_BINARY, dir / "big.vrin", dir, "95", "1");
  const Texts normal = run_alone(TILVEX_BINARY, dir / "big.vrin", dir, "95", "2");
  const std::string old = "an earlier summary\n", old2 = "an earlier line\n";
  std::mt19937 rng(13);
  int committed = 0, rolled_back = 0;
  for (int trial = 0; trial < 40; ++trial) {
    spill(dir / "out.txt", old);
    spill(dir / "out2.txt", old2);
    const pid_t pid = start(TILVEX_BINARY,
                            {dir / "big.vrin", dir / "out.txt", "95", dir / "out2.txt", "1", "0", "0", "1"},
                            dir / "stdout");
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 60000));
    if (trial % 4 == 3) {
      kill(pid, SIGSTOP);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(pid, SIGKILL);
    finish(pid);
    ASSERT_EQ(run(TILVEX_BINARY, {dir / "big.vrin", dir / "out.txt", "95", dir / "out2.txt", "2", "0", "0", "1"},
                  dir / "stdout")
                  .status,
              0);
    const std::string out = slurp(dir / "out.txt"), out2 = slurp(dir / "out2.txt");
    if (out == old + killed.summary + normal.summary && out2 == old2 + killed.lines + normal.lines)
      ++committed;
    else if (out == old + normal.summary && out2 == old2 + normal.lines)
      ++rolled_back;
    else
      ADD_FAILURE() << "trial " << trial << ": not whole runs (" << out.size() << ", " << out2.size()
                    << " bytes)";
    for (const auto& e : fs::directory_iterator(dir.path()))
      ASSERT_EQ(e.path().filename().string().find("tilvex-journal"), std::string::npos);
  }
  EXPECT_EQ(committed + rolled_back, 40);
}

}  // namespace
}  // namespace tilvex::test
