// End-to-end: a grid killed outright at random moments, again and again,
// with TILVEX_SYNC=1, finishes with --resume to the bytes of one clean run:
// both result files, the table and the record. The moments depend on
// timing; what is checked does not.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";
const std::vector<std::string> kSync = {"TILVEX_SYNC=1"};

struct Left {
  std::string out, out2, table, record;
  bool operator==(const Left&) const = default;
};

Left left_in(const ScratchDir& dir) {
  return {slurp(dir / "out.txt"), slurp(dir / "out2.txt"), slurp(dir / "table.tsv"),
          slurp(dir / "out.txt.tilvex-grid")};
}

std::vector<std::string> grid_args(const ScratchDir& dir, bool resume) {
  std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                   "--jobs", "2", "--table", dir / "table.tsv", "--quiet"};
  if (resume) args.push_back("--resume");
  return args;
}

// Starts the grid as its user would go on: with --resume once its record
// holds anything, else as it was first given.
pid_t start_grid(const ScratchDir& dir) {
  const bool recorded = !slurp(dir / "out.txt.tilvex-grid").empty();
  return start(TILVEX_GRID, grid_args(dir, recorded), dir / "stdout",
               Launch{"/dev/null", -1, dir / "stderr", kSync});
}

TEST(GridKills, KilledAtRandomMomentsResumesToOneCleanRun) {
  ScratchDir dir;
  std::string list;
  for (int i = 0; i < 10; ++i) list += kRealistic + " " + std::to_string(i) + " 0 0 1\n";
  spill(dir / "grid.txt", list);
  const auto begun = std::chrono::steady_clock::now();
  ASSERT_EQ(finish(start_grid(dir)), 0);
  const auto took = std::chrono::steady_clock::now() - begun;
  const Left clean = left_in(dir);
  std::mt19937 random(static_cast<unsigned>(getpid()));
  std::uniform_int_distribution<long> moment(0, std::chrono::duration_cast<std::chrono::microseconds>(took).count());
  int trials = 0, kills = 0, clean_ends = 0;
  for (; trials < 40; ++trials) {
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename() != "grid.txt") fs::remove(e.path());
    // Up to three kills, then a run to the end.
    for (int k = 0; k < 3; ++k) {
      const pid_t pid = start_grid(dir);
      std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
      kill(pid, SIGKILL);
      if (finish(pid) != 128 + SIGKILL) break;  // it had ended
      ++kills;
    }
    int status = finish(start_grid(dir));
    // Killed before its record's header was committed, it has no grid to
    // resume (that header was rolled back): the command as it was.
    if (status == 2 && slurp(dir / "stderr").find("no record of a grid to resume") != std::string::npos)
      status = finish(start(TILVEX_GRID, grid_args(dir, false), dir / "stdout",
                            Launch{"/dev/null", -1, dir / "stderr", kSync}));
    EXPECT_EQ(status, 0) << "trial " << trials << ": " << slurp(dir / "stderr");
    const bool same = left_in(dir) == clean;
    EXPECT_TRUE(same) << "trial " << trials;
    clean_ends += same;
  }
  std::cout << trials << " trials, " << kills << " grids killed, " << clean_ends
            << " resumed to the clean bytes\n";
}

}  // namespace
}  // namespace tilvex::test
