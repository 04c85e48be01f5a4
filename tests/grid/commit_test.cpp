#include "grid/commit.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tilvex::grid {
namespace {

// The targets of a commit as (file, its pieces' text), in order.
using Written = std::vector<std::pair<const ResultFile*, std::vector<std::string>>>;

Written written(const Commit& c) {
  Written out;
  for (const AppendTarget& t : c.targets)
    out.push_back({t.file, std::vector<std::string>(t.pieces.begin(), t.pieces.end())});
  return out;
}

// A batch of an analysed point, a failed one and another analysed one:
// where each piece goes, in which order, in both layouts, with and without
// a record.
TEST(CommitOf, TargetsOfABatch) {
  ResultFile out, out2, record;
  const std::string_view lines0[] = {"a0\n", "b0\n"}, lines2[] = {"a2\n", ""};
  const AnalysedPoint batch[] = {{true, lines0, "s0\n", "r0\n"},
                                 {false, {}, {}, "r1\n"},
                                 {true, lines2, "s2\n", "r2\n"}};
  const std::vector<std::string> rows = {"r0\n", "r1\n", "r2\n"};
  struct Case {
    bool one_file, record;
    Written expected;
  } cases[] = {
      {false, true, {{&out2, {"a0\n", "b0\n", "a2\n", ""}}, {&out, {"s0\n", "s2\n"}}, {&record, rows}}},
      {false, false, {{&out2, {"a0\n", "b0\n", "a2\n", ""}}, {&out, {"s0\n", "s2\n"}}}},
      {true, true,
       {{&out2, {"a0\n", "b0\n"}}, {&out, {"s0\n"}}, {&out2, {"a2\n", ""}}, {&out, {"s2\n"}}, {&record, rows}}},
      {true, false, {{&out2, {"a0\n", "b0\n"}}, {&out, {"s0\n"}}, {&out2, {"a2\n", ""}}, {&out, {"s2\n"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.one_file ? "one file" : "two files") + (c.record ? ", record" : ""));
    const Commit commit = commit_of(batch, {&out, &out2, c.record ? &record : nullptr, c.one_file});
    EXPECT_EQ(written(commit), c.expected);
  }
  // A batch of failed points only: empty appends to the outputs (locked as
  // ever), its rows to the record.
  const Commit failed = commit_of(std::span(batch).subspan(1, 1), {&out, &out2, &record, false});
  EXPECT_EQ(written(failed), (Written{{&out2, {}}, {&out, {}}, {&record, {"r1\n"}}}));
}

}  // namespace
}  // namespace tilvex::grid
