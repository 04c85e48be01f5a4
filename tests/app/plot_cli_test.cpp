// End-to-end runs of tilvex-plot: the picture, the errors, and that nothing
// is written on error.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kTwoGrids =
    "3 7 0 1 0.45 0 12 125 3 250 80\n3 7 0 1 0.55 350 7 300 -4 235 75\n"
    "4 7 0 1 0.40 175 -12 118 6 60 -79\n";

TEST(PlotCli, DrawsOneGridPoint) {
  ScratchDir dir;
  spill(dir / "accepted.txt", kTwoGrids);
  Outcome o = run(TILVEX_PLOT, {dir / "accepted.txt", "--grid", "3", "7", "0", "1", "-o",
                                dir / "net.svg"},
                  dir / "stdout");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.printed, "");
  const std::string svg = slurp(dir / "net.svg");
  EXPECT_NE(svg.find("2 accepted resamples"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "net.svg.partial"));
  // Without -o the picture goes to standard output.
  o = run(TILVEX_PLOT, {dir / "accepted.txt", "--grid", "3", "7", "0", "1"}, dir / "stdout");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.printed, svg);
}

TEST(PlotCli, ErrorsWriteNothing) {
  ScratchDir dir;
  spill(dir / "accepted.txt", kTwoGrids);
  spill(dir / "bad.txt", "3 7 0 1 0.45 0 12 125 3 250 80\n3 7 0 1 0.55 350 7 x -4 235 75\n");
  spill(dir / "net.svg", "old picture");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{dir / "accepted.txt", "-o", dir / "net.svg"}, 1},  // two grid points, none chosen
      {{dir / "accepted.txt", "--grid", "1", "1", "1", "1", "-o", dir / "net.svg"}, 1},
      {{dir / "bad.txt", "-o", dir / "net.svg"}, 1},
      {{dir / "missing.txt", "-o", dir / "net.svg"}, 1},
      {{dir / "accepted.txt", "--grid", "3", "7", "0"}, 2},
      {{}, 2},
  };
  for (const Case& c : cases) {
    Outcome o = run(TILVEX_PLOT, c.args, dir / "stdout");
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.printed, "");
    EXPECT_EQ(slurp(dir / "net.svg"), "old picture");
  }
}

}  // namespace
}  // namespace tilvex::test
