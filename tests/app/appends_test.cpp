// End-to-end: appends are whole, all or nothing, and safe beside other runs
// on the same files.

#include <fcntl.h>
#include <sys/stat.h>
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

Texts alone(const ScratchDir& dir, const std::string& level, const std::string& grid) {
  return run_alone(TILVEX_BINARY, kRealistic, dir, level, grid);
}

const struct flock kWholeFile = [] {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  return whole;
}();

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

// Runs lock the two files in one order, whatever their roles, so that two
// runs naming them in swapped roles cannot deadlock. Here the test holds the
// file that comes second in that order; the run must take the first and
// then wait, appending nothing, until the second is free.
TEST(Appends, LocksTheFirstFileThenWaitsForTheSecond) {
  ScratchDir dir;
  const Texts expected = alone(dir, "95", "1");
  spill(dir / "a.txt", "");
  spill(dir / "b.txt", "");
  const auto inode = [](const std::string& p) {
    struct stat st {};
    stat(p.c_str(), &st);
    return st.st_ino;
  };
  // `first` comes first in the lock order; it is made output_file2, so the
  // order differs from the order of the arguments.
  const bool a_first = inode(dir / "a.txt") < inode(dir / "b.txt");
  const std::string first = dir / (a_first ? "a.txt" : "b.txt");
  const std::string second = dir / (a_first ? "b.txt" : "a.txt");
  const int held = open(second.c_str(), O_RDWR);
  ASSERT_EQ(fcntl(held, F_SETLK, &kWholeFile), 0);

  const pid_t pid = start(TILVEX_BINARY, {kRealistic, second, "95", first, "1", "0", "0", "1"},
                          dir / "stdout");
  // Wait until the run holds the first file's lock (F_GETLK names it).
  const int probe = open(first.c_str(), O_RDWR);
  bool locked = false;
  for (int i = 0; i < 2000 && !locked; ++i) {
    struct flock query = kWholeFile;
    ASSERT_EQ(fcntl(probe, F_GETLK, &query), 0);
    locked = query.l_type != F_UNLCK && query.l_pid == pid;
    if (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(locked) << "the run did not take the lock of the first file";
  close(probe);  // the test holds no lock on `first`, so nothing is released
  struct stat st {};
  ASSERT_EQ(fstat(held, &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(slurp(first), "");
  close(held);  // lets it go
  EXPECT_EQ(finish(pid), 0);
  EXPECT_EQ(slurp(first), expected.lines);
  EXPECT_EQ(slurp(second), expected.summary);
}

}  // namespace
}  // namespace tilvex::test
