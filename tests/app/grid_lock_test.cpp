// tilvex-grid when another process holds a lock on a result file before
// the grid begins: the roll-back that comes first gives up, and the status
// and message name the file that was locked, as tilvex's do.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../support/run.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tilvex::test;

TEST(GridLock, ARollBackThatCannotLockNamesItsFile) {
  char pattern[] = "/tmp/tilvex-grid-lock-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  spill(dir / "grid.txt", (dir / "missing.vrin").string() + " 0 0 0 0\n");
  struct Case {
    const char* locked;
    int status;
  } cases[] = {{"out.txt", 213}, {"out2.txt", 252}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locked);
    spill(dir / "out.txt", "kept\n");
    spill(dir / "out2.txt", "kept2\n");
    const std::string locked = (dir / c.locked).string();
    const int held = open(locked.c_str(), O_RDWR);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(held, F_SETLK, &whole), 0);
    const Outcome o = run(TILVEX_GRID,
                          {(dir / "grid.txt").string(), (dir / "out.txt").string(), "95",
                           (dir / "out2.txt").string(), "--quiet"},
                          dir / "stdout", Launch{"/dev/null", -1, dir / "stderr", {"TILVEX_LOCK_TIMEOUT=0.2"}});
    close(held);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.printed, "unable to write " + locked + "\n");
    EXPECT_NE(slurp(dir / "stderr").find("tilvex-grid: cannot lock '" + locked + "': "), std::string::npos)
        << slurp(dir / "stderr");
    EXPECT_EQ(slurp(dir / "out.txt"), "kept\n");
    EXPECT_EQ(slurp(dir / "out2.txt"), "kept2\n");
  }
  fs::remove_all(dir);
}

}  // namespace
