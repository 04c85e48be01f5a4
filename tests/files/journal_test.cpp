#include "files/journal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "../support/run.hpp"

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

// A journal goes only while it is the one read (remove) or one of the
// append being rolled back, by its writer (remove_at): another file that
// took its name, or another user's journal of the same transaction (its
// number can be read and copied), stays.
TEST(Journal, RemovedOnlyWhileItIsTheOneMeant) {
  test::ScratchDir dir;
  const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  Journal j;
  j.tx = 5;
  j.files = {{1, 2, 0, dir / "out.txt"}};
  ASSERT_TRUE(create(folder, "out.txt", j, false));
  const std::string path = dir / name_for("out.txt");

  const Found read = hot_journal(folder, "out.txt");
  ASSERT_EQ(read.state, State::hot);
  std::filesystem::rename(path, dir / "kept");
  test::spill(path, "another file that took its name\n");
  EXPECT_TRUE(remove(folder, "out.txt", read));
  EXPECT_EQ(test::slurp(path), "another file that took its name\n");
  std::filesystem::remove(path);
  std::filesystem::rename(dir / "kept", path);

  EXPECT_TRUE(remove_at(path, 6, ::geteuid(), false));  // another transaction
  EXPECT_TRUE(std::filesystem::exists(path));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), 65534, static_cast<gid_t>(-1)), 0);  // nobody's
    EXPECT_TRUE(remove_at(path, 5, 0, false));
    EXPECT_TRUE(std::filesystem::exists(path)) << "another user's journal of the same transaction was removed";
    ASSERT_EQ(::chown(path.c_str(), 0, static_cast<gid_t>(-1)), 0);
  }
  EXPECT_TRUE(remove_at(path, 5, ::geteuid(), false));
  EXPECT_FALSE(std::filesystem::exists(path));
  ::close(folder);
}

}  // namespace
}  // namespace tilvex::journal
