#include "files/journal.hpp"

#include <gtest/gtest.h>

namespace tilvex::journal {
namespace {

// A journal reads back as written; one cut short or with a byte changed
// (a crash while it was written) reads as torn.
TEST(Journal, RoundTripAndTornJournals) {
  Journal j;
  j.tx = 0x0123456789abcdefu;
  j.commit = "/tmp/dir with blanks/.out.txt.tilvex-journal";
  j.files = {{1, 2, 3, "/tmp/dir with blanks/out.txt"}, {4, 5, 0, "/x/\n"}};
  const std::string text = encode(j);
  const auto back = decode(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->tx, j.tx);
  EXPECT_EQ(back->commit, j.commit);
  ASSERT_EQ(back->files.size(), 2u);
  EXPECT_EQ(back->files[1].path, "/x/\n");
  EXPECT_EQ(back->files[0].length, 3);
  for (std::size_t cut = 0; cut < text.size(); ++cut) EXPECT_FALSE(decode(text.substr(0, cut))) << cut;
  std::string changed = text;
  changed[30] ^= 1;
  EXPECT_FALSE(decode(changed));
  EXPECT_EQ(path_for("/a/b/out.txt"), "/a/b/.out.txt.tilvex-journal");
}

}  // namespace
}  // namespace tilvex::journal
