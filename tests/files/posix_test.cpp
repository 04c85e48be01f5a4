#include "files/posix.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../support/run.hpp"
#include "files/journal.hpp"

namespace tilvex {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;
using test::spill;

// Every piece once and in order, whether a call takes many small pieces
// (more than IOV_MAX), parts of a piece longer than a call takes, or a
// piece cut between two calls; empty pieces write nothing.
TEST(Posix, WritesEveryPieceInOrder) {
  ScratchDir dir;
  constexpr std::size_t kKiB = 1024, kMiB = kKiB << 10;
  std::vector<std::vector<std::string>> cases(2);
  for (int k = 0; k < 1500; ++k) cases[0].push_back(std::string(1 + k % 3, static_cast<char>('a' + k % 26)));
  cases[0].emplace_back();
  for (const std::size_t mib : {3, 3, 9, 1}) cases[0].push_back(std::string(mib * kMiB + 7 * mib, static_cast<char>('0' + mib)));
  // The second call starts in a piece cut by the first and is cut in its
  // fourth piece.
  for (const std::size_t size : {kKiB, kKiB, 4 * kMiB - kKiB, kKiB, kKiB, 4 * kMiB, std::size_t{5}})
    cases[1].push_back(std::string(size, static_cast<char>('a' + cases[1].size())));
  for (std::vector<std::string>& texts : cases) {
    texts.push_back("end\n");
    std::vector<std::string_view> pieces(texts.begin(), texts.end());
    std::string want;
    for (const std::string& t : texts) want += t;
    const fs::path path = dir / "out";
    spill(path, "before\n");
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(posix::write_all(fd, pieces));
    ::close(fd);
    EXPECT_TRUE(test::slurp(path) == "before\n" + want);
  }
}

// A symlink in any component of a path found in a journal is refused, as
// are "." and ".." and relative paths; a plain path opens the file.
TEST(Posix, OpensWithoutFollowingASymlinkAnywhere) {
  ScratchDir dir;
  fs::create_directories(dir / "real/sub");
  spill(dir / "real/sub/f", "x");
  fs::create_symlink(dir / "real", dir / "link");
  fs::create_symlink(dir / "real/sub/f", dir / "real/sub/g");
  struct Case {
    std::string path;
    int error;  // 0: opens
  } cases[] = {
      {dir / "real/sub/f", 0},         {dir / "link/sub/f", ENOTDIR}, {dir / "real/sub/g", ELOOP},
      {dir / "real/../real/sub/f", EINVAL}, {dir / "real/./sub/f", EINVAL}, {"real/sub/f", EINVAL},
      {dir / "real/sub/missing", ENOENT},
  };
  for (const Case& c : cases) {
    errno = 0;
    const posix::Fd fd = posix::open_no_symlinks(c.path, O_RDONLY);
    EXPECT_EQ(fd.ok(), c.error == 0) << c.path;
    if (!fd.ok()) {
      EXPECT_EQ(errno, c.error) << c.path;
    }
  }
}

// The folder of an output named through symlinks is the real one, where
// its journal lies for every run, however it names the file.
TEST(Posix, APlaceIsTheRealFolderOfTheFile) {
  ScratchDir dir;
  fs::create_directories(dir / "real");
  spill(dir / "real/out.txt", "x");
  fs::create_symlink(dir / "real", dir / "folder-link");
  fs::create_symlink(dir / "real/out.txt", dir / "file-link");
  for (const std::string& name : {dir / "real/out.txt", dir / "folder-link/out.txt", dir / "file-link"}) {
    const posix::Fd fd(::open(name.c_str(), O_WRONLY | O_APPEND));
    posix::Place place;
    ASSERT_TRUE(posix::place_of(fd.get(), name, place)) << name;
    EXPECT_EQ(place.base, "out.txt") << name;
    EXPECT_EQ(place.path, fs::canonical(dir / "real/out.txt").string()) << name;
    struct stat st {};
    EXPECT_EQ(::fstatat(place.folder.get(), "out.txt", &st, AT_SYMLINK_NOFOLLOW), 0);
  }
  // A file no longer in any folder has no place.
  const posix::Fd gone(::open((dir / "real/gone").c_str(), O_WRONLY | O_CREAT, 0644));
  fs::remove(dir / "real/gone");
  posix::Place place;
  EXPECT_FALSE(posix::place_of(gone.get(), dir / "real/gone", place));
}

// Who may write a file, by its owner, group and mode.
TEST(Posix, WhoMayWriteAFile) {
  const passwd* nobody = getpwnam("nobody");
  ASSERT_TRUE(nobody);
  const uid_t n = nobody->pw_uid;
  const gid_t ng = nobody->pw_gid;
  struct Case {
    uid_t uid, owner;
    gid_t group;
    mode_t mode;
    bool may;
  } cases[] = {
      {0, n, ng, 0400, true},       // root, whatever the mode
      {n, n, 0, 0400, true},        // the owner may always (chmod)
      {n, 0, 0, 0644, false},       // someone else's file
      {n, 0, 0, 0602, true},        // writable by anyone
      {n, 0, ng, 0620, true},       // by the group, of which nobody is a member
      {n, 0, 0, 0620, false},       // by a group nobody is not in
      {n, 0, ng, 0600, false},      // the group, but not writable by it
      {12345678, 0, 0, 0620, false},  // a user with no entry: no groups
  };
  for (const Case& c : cases) {
    struct stat st {};
    st.st_uid = c.owner;
    st.st_gid = c.group;
    st.st_mode = S_IFREG | c.mode;
    EXPECT_EQ(posix::may_write(c.uid, st), c.may) << c.uid << " " << c.owner << " " << std::oct << c.mode;
  }
}

// What stands at a journal's name, told apart without following a symlink
// or waiting on a FIFO.
TEST(Posix, WhatStandsAtAJournalsName) {
  ScratchDir dir;
  spill(dir / "out.txt", "x");
  const posix::Fd folder(::open(dir.path().c_str(), O_PATH | O_DIRECTORY));
  const std::string name = dir / ".out.txt.tilvex-journal";
  journal::Journal commit;
  commit.tx = 9;
  commit.files = {{1, 2, 0, dir / "out.txt"}};
  journal::Journal second = commit;
  second.commit = dir / ".other.tilvex-journal";
  struct Case {
    const char* what;
    std::function<void()> make;
    journal::State state;
  } cases[] = {
      {"nothing", [] {}, journal::State::none},
      {"a whole commit journal", [&] { spill(name, journal::encode(commit)); }, journal::State::hot},
      {"a torn one", [&] { spill(name, journal::encode(commit).substr(0, 20)); }, journal::State::torn},
      {"a second journal whose commit journal is gone", [&] { spill(name, journal::encode(second)); },
       journal::State::stale},
      {"a second journal whose commit journal is there",
       [&] {
         spill(name, journal::encode(second));
         spill(dir / ".other.tilvex-journal", journal::encode(commit));
       },
       journal::State::hot},
      {"a second journal whose commit journal is of another transaction",
       [&] {
         spill(name, journal::encode(second));
         journal::Journal other = commit;
         other.tx = 10;
         spill(dir / ".other.tilvex-journal", journal::encode(other));
       },
       journal::State::stale},
      {"a symlink to a whole journal",
       [&] {
         spill(dir / "elsewhere", journal::encode(commit));
         fs::create_symlink(dir / "elsewhere", name);
       },
       journal::State::in_the_way},
      {"a FIFO", [&] { mkfifo(name.c_str(), 0644); }, journal::State::in_the_way},
      {"a folder", [&] { fs::create_directory(name); }, journal::State::in_the_way},
  };
  for (const Case& c : cases) {
    for (const char* f : {".out.txt.tilvex-journal", ".other.tilvex-journal", "elsewhere"}) fs::remove(dir / f);
    c.make();
    const journal::Found found = journal::hot_journal(folder.get(), "out.txt");
    EXPECT_EQ(static_cast<int>(found.state), static_cast<int>(c.state)) << c.what;
    if (found.state == journal::State::hot) {
      EXPECT_EQ(found.journal.commit, "") << c.what;
    }
  }
}

}  // namespace
}  // namespace tilvex
