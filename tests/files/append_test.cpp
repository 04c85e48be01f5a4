#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "../support/run.hpp"
#include "files/result_files.hpp"

namespace tilvex {
namespace {

// A stopping signal the caller keeps blocked itself (as tilvex-grid does,
// for its thread that waits for them) is the caller's: an append's commit
// leaves it pending, where it would drop one that came while it held the
// signals back.
TEST(Append, LeavesASignalTheCallerBlocksPending) {
  test::ScratchDir dir;
  ResultFile file;
  ASSERT_TRUE(file.open(dir / "out.txt"));
  sigset_t term, before;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &before), 0);
  raise(SIGTERM);  // pending, for the caller to take
  const std::string_view pieces[] = {"a line\n"};
  const AppendTarget target[] = {{&file, pieces}};
  const AppendOutcome out = append_all(target);
  sigset_t pending;
  sigpending(&pending);
  const bool still = sigismember(&pending, SIGTERM) == 1;
  if (still) {
    int taken = 0;
    sigwait(&term, &taken);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  EXPECT_EQ(out.failed, -1);
  EXPECT_TRUE(still) << "the caller's pending SIGTERM was dropped";
  EXPECT_EQ(test::slurp(dir / "out.txt"), "a line\n");
}

}  // namespace
}  // namespace tilvex
