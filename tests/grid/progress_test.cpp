#include "grid/progress.hpp"

#include <gtest/gtest.h>

namespace tilvex::grid {
namespace {

// Only whole rows count: one cut short by a kill was never committed, and
// the length tells where the record is to be cut back to.
TEST(ReadProgress, WholeRowsAndTheLastLine) {
  const std::string header = progress_header(3, 0xabc, "95", 1, 4);
  EXPECT_EQ(header, "tilvex-grid progress\tpoints=3\tlist=0000000000000abc\tlevel=95\tpart=1/4\n");
  auto p = read_progress(header + "a\tok\n" + "b\tok\n" + "c\to");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->done, 2u);
  EXPECT_EQ(p->rows, "a\tok\nb\tok\n");
  EXPECT_EQ(p->length, header.size() + 10);
  EXPECT_FALSE(p->complete);
  p = read_progress(header + "a\tok\n" + std::string(kComplete));
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->complete);
  EXPECT_EQ(p->done, 1u);
  EXPECT_FALSE(read_progress("phi= 0.50 ...\n"));
}

// The failed points of a record are those whose status, the sixth column,
// is not "ok" (a status that merely starts with "ok" is a failure's);
// a row cut short counts for nothing.
TEST(ReadProgress, CountsTheFailedPoints) {
  const std::string header = progress_header(5, 1, "95", 0, 1);
  const std::string rows = "x\t0\t0\t0\t0\tok\t5\n"
                           "y ok\t1\t0\t0\t0\tunable to read y ok\tnan\n"
                           "z\t2\t0\t0\t0\tok\t7\n"
                           "w\t3\t0\t0\t0\tokay\tnan\n";
  const auto p = read_progress(header + rows + "v\t4\t0\t0\t0\tunable");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->done, 4u);
  EXPECT_EQ(p->failed, 2u);
  EXPECT_EQ(read_progress(header + rows + std::string(kComplete))->failed, 2u);
}

// A point's warnings follow its row and are not rows; a warning line cut
// short is not kept, and the length ends before it. Rows of fewer columns
// than the table has now (an older grid's) are counted.
TEST(ReadProgress, WarningsFollowTheirRow) {
  const std::string header = progress_header(3, 2, "95", 0, 1);
  std::string row_now = "x\t0\t0\t0\t0\tok";  // of the table's width
  for (int k = 6; k < 39; ++k) row_now += "\t1";
  const std::string rows = row_now + "\n" + warning_lines({"'x': one", "'x':\ntwo"}) + "y\t1\t0\t0\t0\tok\t5\n" +
                           warning_lines({"'y': three"});
  EXPECT_EQ(warning_lines({"'x': one", "'x':\ntwo"}), "\twarning\t'x': one\n\twarning\t'x': two\n");
  const auto p = read_progress(header + rows + "\twarning\t'y': fo");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->done, 2u);
  EXPECT_EQ(p->rows, row_now + "\ny\t1\t0\t0\t0\tok\t5\n");
  const std::vector<std::vector<std::string>> warnings = {{"'x': one", "'x': two"}, {"'y': three"}};
  EXPECT_EQ(p->warnings, warnings);
  EXPECT_EQ(p->length, header.size() + rows.size());
  EXPECT_EQ(p->narrow, 1u);
  EXPECT_EQ(read_progress(header + rows + std::string(kComplete))->length, header.size() + rows.size());
}

}  // namespace
}  // namespace tilvex::grid
