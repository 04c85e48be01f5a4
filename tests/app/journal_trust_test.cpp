// End-to-end: what a journal may make a run do when the files it names are
// reached by another name than the one it recorded (a renamed folder, a
// hard link), when another user wrote it, and when another user owns the
// sticky folder of the results. A committed run (status 0) is never cut
// afterwards; another user's journal never makes a run open anything, nor
// cut a file an ACL forbids that user to write; a symlink another user
// plants never leads a run to a file of its user; a recovery that cannot
// settle a file says so; a journal of three files is read safely.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <string>
#include <vector>

#include "../support/run.hpp"
#include "../support/trace.hpp"
#include "files/journal.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";
const std::string kSum = "an earlier summary\n", kAcc = "an earlier line\n";
const std::vector<std::string> kNobody = {"--reuid=nobody", "--regid=nogroup", "--clear-groups"};

#define NEEDS_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "an attack by another user needs root, to be that user"

std::vector<std::string> args(const std::string& sum, const std::string& acc, const std::string& level,
                              const std::string& grid) {
  return {kRealistic, sum, level, acc, grid, "0", "0", "1"};
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs tilvex on fresh `sum` and `acc` (earlier bytes only), killed at
// the first (or, with `last`, the last) system call at which `left` holds.
template <typename Left>
void kill_where(const ScratchDir& dir, const std::string& sum, const std::string& acc, bool last, Left left) {
  auto fresh = [&] {
    spill(sum, kSum);
    spill(acc, kAcc);
    fs::remove(journal::path_for(sum));
    fs::remove(journal::path_for(acc));
  };
  fresh();
  const long calls = run_killed_at(TILVEX_BINARY, args(sum, acc, "95", "1"), dir / "stdout", dir / "stderr", -1).calls;
  for (long i = 0; i < calls; ++i) {
    fresh();
    run_killed_at(TILVEX_BINARY, args(sum, acc, "95", "1"), dir / "stdout", dir / "stderr", last ? calls - 1 - i : i);
    if (left()) return;
  }
  FAIL() << "no system call of the run leaves what the test needs";
}

// A run killed before its commit; then a run appends to one of its files
// and not the other, and is committed (status 0); then a recovery by the
// other file. The committed run stays in the file, in three cases:
// - the run killed after its commit journal is written and before its
//   second journal (one SIGKILL, the names unchanged);
// - the run killed at its commit, and the commit file's folder renamed
//   (the second journal's commit journal is not at its recorded path): the
//   run on the other file refuses until the dead run is rolled back;
// - the run killed at its commit, and the files given second names by hard
//   links in another folder (their journals are not beside those names):
//   a file of several names is refused.
// Fault guarded: the commit journal found by the recovery cut every file it
// names back to its length before the killed run, taking the committed run
// with it, although that file's own journal was gone (or never written).
TEST(JournalTrust, ACommittedRunIsNeverCutByAJournalFoundLater) {
  enum Case { between_journals, folder_renamed, hard_links };
  for (const Case c : {between_journals, folder_renamed, hard_links}) {
    SCOPED_TRACE(c == between_journals ? "killed between its two journals"
                 : c == folder_renamed ? "the commit file's folder renamed"
                                       : "hard links in another folder");
    ScratchDir dir;
    fs::create_directory(dir / "a");
    fs::create_directory(dir / "b");
    fs::create_directory(dir / "c");  // for the second run's other file: never renamed
    const std::string sum = dir / "a/sum.txt";
    const std::string acc = dir / (c == folder_renamed ? "b/acc.txt" : "a/acc.txt");
    if (c == between_journals) {
      kill_where(dir, sum, acc, false, [&] {
        const bool s = fs::exists(journal::path_for(sum)), a = fs::exists(journal::path_for(acc));
        return s != a && journal::decode(slurp(journal::path_for(s ? sum : acc))).has_value();
      });
    } else {
      kill_where(dir, sum, acc, true, [&] {
        return fs::exists(journal::path_for(sum)) && fs::exists(journal::path_for(acc)) &&
               fs::file_size(sum) > kSum.size() && fs::file_size(acc) > kAcc.size();
      });
    }
    if (HasFatalFailure()) return;
    const Texts second = run_alone(TILVEX_BINARY, kRealistic, dir, "90", "2");
    if (c == hard_links) {
      // A file of two names is refused under either name: a run under the
      // other name would not find its journal. Once it has one name again,
      // the run that died is rolled back and the next run appended.
      fs::create_hard_link(sum, dir / "b/sum.txt");
      fs::create_hard_link(acc, dir / "b/acc.txt");
      for (const std::string folder : {"b", "a"}) {
        const Outcome o = run(TILVEX_BINARY, args(dir / (folder + "/sum.txt"), dir / (folder + "/acc.txt"), "90", "2"),
                              dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
        EXPECT_TRUE(o.status == 213 || o.status == 252) << o.status;
        EXPECT_NE(slurp(dir / "stderr").find("2 names (hard links)"), std::string::npos) << slurp(dir / "stderr");
      }
      fs::remove(dir / "b/sum.txt");
      fs::remove(dir / "b/acc.txt");
      const Outcome o = run(TILVEX_BINARY, args(sum, acc, "90", "2"), dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
      ASSERT_EQ(o.status, 0) << slurp(dir / "stderr");
      EXPECT_EQ(slurp(sum), kSum + second.summary);
      EXPECT_EQ(slurp(acc), kAcc + second.lines);
      continue;
    }
    // The commit journal lies beside the first file in lock order (the
    // journal written first): the second run appends to the other file.
    const bool sum_commits = c == between_journals ? fs::exists(journal::path_for(sum))
                                                   : journal::decode(slurp(journal::path_for(sum)))->commit.empty();
    std::string commit_file = sum_commits ? sum : acc;
    const std::string kept = sum_commits ? acc : sum, part = sum_commits ? second.lines : second.summary;
    const auto second_run = [&] {
      return run(TILVEX_BINARY,
                 sum_commits ? args(dir / "c/sum2.txt", acc, "90", "2") : args(sum, dir / "c/acc2.txt", "90", "2"),
                 dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    };
    if (c == folder_renamed) {
      // Whether the dead run committed cannot be told once the folder of its
      // commit journal has moved: the run on the other file refuses, and
      // the recovery through the commit file where it now is rolls it back.
      const std::string old_kept = slurp(kept);
      fs::rename(dir / (sum_commits ? "a" : "b"), dir / "moved");
      commit_file = dir / (sum_commits ? "moved/sum.txt" : "moved/acc.txt");
      const Outcome refused = second_run();
      EXPECT_TRUE(refused.status == 252 || refused.status == 213) << refused.status;
      EXPECT_NE(slurp(dir / "stderr").find("but that folder has moved"), std::string::npos) << slurp(dir / "stderr");
      EXPECT_EQ(slurp(kept), old_kept);
      ASSERT_EQ(run(TILVEX_GRID, {"--recover", commit_file}, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"})
                    .status, 0) << slurp(dir / "stderr");
      EXPECT_EQ(slurp(kept), sum_commits ? kAcc : kSum);
    }
    const Outcome o = second_run();
    ASSERT_EQ(o.status, 0) << slurp(dir / "stderr");
    ASSERT_TRUE(ends_with(slurp(kept), part));
    run(TILVEX_GRID, {"--recover", commit_file}, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    EXPECT_TRUE(ends_with(slurp(kept), part)) << "the committed run was cut: " << slurp(dir / "stderr");
  }
}

// Nobody's journal at the journal name of root's file records, as its
// commit journal, the path of something that is not a journal (here a FIFO
// of nobody's; a device such as /dev/watchdog or a tape is opened just the
// same): root's run, recovery and reader never open it.
// Fault guarded: hot_journal opened the recorded commit path for reading
// before it looked at what it is or whose journal named it.
TEST(JournalTrust, AnotherUsersJournalMakesNoRunOpenItsCommitPath) {
  NEEDS_ROOT();
  ScratchDir dir;
  chmod(dir.path().c_str(), 01777);
  spill(dir / "sum.txt", kSum);
  spill(dir / "acc.txt", kAcc);
  for (const char* f : {"sum.txt", "acc.txt"}) chmod((dir / f).c_str(), 0600);
  std::vector<std::string> mkfifo = kNobody;
  for (const std::string& a : {std::string("/usr/bin/mkfifo"), dir / "pipe"}) mkfifo.push_back(a);
  ASSERT_EQ(run("/usr/bin/setpriv", mkfifo, dir / "nobody.out").status, 0);
  struct stat acc {};
  stat((dir / "acc.txt").c_str(), &acc);
  journal::Journal j;
  j.tx = 0x5eed;
  j.commit = dir / "pipe";
  j.files = {{acc.st_dev, acc.st_ino, 0, dir / "acc.txt"}};
  spill(dir / "staged", journal::encode(j));
  chmod((dir / "staged").c_str(), 0644);
  std::vector<std::string> cp = kNobody;
  for (const std::string& a : {std::string("/bin/cp"), dir / "staged", dir / ".acc.txt.tilvex-journal"})
    cp.push_back(a);

  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, (dir / "pipe").c_str(), IN_OPEN), 0);
  const struct {
    const char* what;
    std::string program;
    std::vector<std::string> args;
  } runs[] = {
      {"tilvex", TILVEX_BINARY, args(dir / "sum.txt", dir / "acc.txt", "95", "1")},
      {"--recover", TILVEX_GRID, {"--recover", dir / "acc.txt", dir / "sum.txt"}},
      {"tilvex-plot", TILVEX_PLOT, {dir / "acc.txt", "-o", dir / "plot.svg"}},
  };
  for (const auto& r : runs) {
    ASSERT_EQ(run("/usr/bin/setpriv", cp, dir / "nobody.out").status, 0);  // a run may remove it as stale
    run(r.program, r.args, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << r.what << " opened the path nobody's journal named";
  }
  close(watch);
}

// Nobody owns a sticky folder anyone may write, and has put a symlink at
// the name of root's summary file before root's first run there: root's
// run never writes the root-only file it points to.
// Fault guarded: the output was opened following the symlink (the kernel's
// protected_symlinks lets it through, since the folder's owner owns it).
TEST(JournalTrust, ASymlinkPlantedAtAnOutputNameLeadsNowhere) {
  NEEDS_ROOT();
  ScratchDir dir;
  chmod(dir.path().c_str(), 0755);
  fs::create_directory(dir / "root-only");
  const std::string kProtected = "root's protected bytes\n";
  spill(dir / "root-only/notes", kProtected);
  chmod((dir / "root-only/notes").c_str(), 0600);
  fs::create_directory(dir / "shared");
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ASSERT_EQ(chown((dir / "shared").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  chmod((dir / "shared").c_str(), 01777);
  std::vector<std::string> plant = kNobody;
  for (const std::string& a : {std::string("/bin/ln"), std::string("-s"), dir / "root-only/notes", dir / "shared/sum.txt"})
    plant.push_back(a);
  ASSERT_EQ(run("/usr/bin/setpriv", plant, dir / "nobody.out").status, 0);
  run(TILVEX_BINARY, args(dir / "shared/sum.txt", dir / "shared/acc.txt", "95", "1"), dir / "stdout",
      Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(slurp(dir / "root-only/notes"), kProtected);
}

// Root's files are writable by anyone by their mode, but an access ACL
// gives nobody read only: nobody cannot write them (the kernel says so), so
// nobody's journal over them is refused, and the recovery cuts nothing.
// Fault guarded: who may write was judged on the mode bits alone.
TEST(JournalTrust, AnAclThatDeniesTheJournalsOwnerIsHeeded) {
  NEEDS_ROOT();
  ScratchDir dir;
  chmod(dir.path().c_str(), 01777);
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  // user::rw- user:nobody:r-- group::rw- mask::rw- other::rw- (the kernel's layout)
  std::string acl;
  auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) acl += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put(2, 4);
  for (const auto& [tag, perm, id] : {std::tuple{1u, 6u, ~0u}, std::tuple{2u, 4u, std::uint32_t(nobody->pw_uid)},
                                      std::tuple{4u, 6u, ~0u}, std::tuple{0x10u, 6u, ~0u}, std::tuple{0x20u, 6u, ~0u}}) {
    put(tag, 2);
    put(perm, 2);
    put(id, 4);
  }
  for (const auto& [name, text] : {std::pair{"sum.txt", kSum}, std::pair{"acc.txt", kAcc}}) {
    spill(dir / name, text);
    chmod((dir / name).c_str(), 0666);
    if (setxattr((dir / name).c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
      GTEST_SKIP() << "no access ACLs here: " << std::strerror(errno);
  }
  std::vector<std::string> write = kNobody;
  for (const std::string& a : {std::string("/bin/sh"), std::string("-c"), "printf x >> " + dir / "acc.txt"})
    write.push_back(a);
  ASSERT_NE(run("/usr/bin/setpriv", write, dir / "nobody.out").status, 0) << "the ACL does not stop nobody";
  journal::Journal j;
  j.tx = 0x5eed;
  for (const char* name : {"acc.txt", "sum.txt"}) {
    struct stat st {};
    stat((dir / name).c_str(), &st);
    j.files.push_back({st.st_dev, st.st_ino, 0, dir / name});
  }
  spill(dir / "staged", journal::encode(j));
  chmod((dir / "staged").c_str(), 0644);
  std::vector<std::string> cp = kNobody;
  for (const std::string& a : {std::string("/bin/cp"), dir / "staged", dir / ".acc.txt.tilvex-journal"})
    cp.push_back(a);
  ASSERT_EQ(run("/usr/bin/setpriv", cp, dir / "nobody.out").status, 0);
  run(TILVEX_GRID, {"--recover", dir / "acc.txt", dir / "sum.txt"}, dir / "stdout",
      Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(slurp(dir / "acc.txt"), kAcc) << slurp(dir / "stderr");
  EXPECT_EQ(slurp(dir / "sum.txt"), kSum);
}

// tilvex-grid --recover that cannot settle a file says so and fails:
// something not a journal in the way of the file's journal, or the file
// locked past TILVEX_LOCK_TIMEOUT. A merge that trusts its status 0 may
// read a dead run's bytes.
// Fault guarded: --recover dropped the outcome of the append it ran, and
// said nothing, with status 0.
TEST(JournalTrust, ARecoveryThatCannotSettleAFileFails) {
  enum Case { in_the_way, locked };
  for (const Case c : {in_the_way, locked}) {
    SCOPED_TRACE(c == in_the_way ? "a FIFO at a journal's name" : "locked past the timeout");
    ScratchDir dir;
    const std::string sum = dir / "sum.txt", acc = dir / "acc.txt";
    spill(sum, kSum);
    spill(acc, kAcc);
    std::vector<std::string> env;
    pid_t holder = -1;
    if (c == in_the_way) {
      ASSERT_EQ(mkfifo(journal::path_for(acc).c_str(), 0644), 0);
    } else {
      env = {"TILVEX_LOCK_TIMEOUT=0.2"};
      holder = fork();  // holds acc.txt's lock until it is killed
      if (holder == 0) {
        const int fd = open(acc.c_str(), O_WRONLY);
        lock_whole_file(fd);
        spill(dir / "locked", "");
        pause();
        _exit(0);
      }
      while (!fs::exists(dir / "locked")) usleep(1000);
    }
    const Outcome o = run(TILVEX_GRID, {"--recover", sum, acc}, dir / "stdout",
                          Launch{"/dev/null", -1, dir / "stderr", env});
    if (holder > 0) {
      kill(holder, SIGKILL);
      finish(holder);
    }
    EXPECT_EQ(slurp(acc), kAcc);
    EXPECT_EQ(slurp(sum), kSum);
    EXPECT_NE(o.status, 0);
    EXPECT_NE(slurp(dir / "stderr").find(acc), std::string::npos) << "no word of which file: " << slurp(dir / "stderr");
  }
}

// A journal of the user's own that names three files, as tilvex-grid's do
// (output2, output, record): the one this run holds, one it must open to
// roll back, and one it cannot open without following a symlink. The run
// refuses with the reason, and cuts nothing.
// Fault guarded (seen under AddressSanitizer or valgrind, which the
// sanitizer builds run): opening the second file grew the list of files
// under the feet of the rollback, which then read the freed list to name
// the file that refuses.
TEST(JournalTrust, AJournalOfThreeFilesWithOneOutOfReach) {
  ScratchDir dir;
  fs::create_directory(dir / "real");
  fs::create_directory_symlink(dir / "real", dir / "link");
  spill(dir / "sum.txt", kSum);
  spill(dir / "acc.txt", kAcc);
  const std::string kOther = "another file's line\nand half a li";
  spill(dir / "other.txt", kOther);
  spill(dir / "real/record.txt", "a record\n");
  journal::Journal j;
  j.tx = 0x77;
  for (const auto& [path, at, length] :
       {std::tuple{dir / "acc.txt", dir / "acc.txt", kAcc.size()},
        std::tuple{dir / "other.txt", dir / "other.txt", std::size_t{20}},
        std::tuple{dir / "link/record.txt", dir / "real/record.txt", std::size_t{0}}}) {
    struct stat st {};
    stat(at.c_str(), &st);
    j.files.push_back({st.st_dev, st.st_ino, static_cast<off_t>(length), path});
  }
  spill(journal::path_for(dir / "acc.txt"), journal::encode(j));
  const Outcome o = run(TILVEX_BINARY, args(dir / "sum.txt", dir / "acc.txt", "95", "1"), dir / "stdout",
                        Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to write " + dir / "acc.txt" + "\n");
  EXPECT_NE(slurp(dir / "stderr").find("without following a symlink"), std::string::npos) << slurp(dir / "stderr");
  EXPECT_EQ(slurp(dir / "sum.txt"), kSum);
  EXPECT_EQ(slurp(dir / "acc.txt"), kAcc);
  EXPECT_EQ(slurp(dir / "other.txt"), kOther);
  EXPECT_EQ(slurp(dir / "real/record.txt"), "a record\n");
}

// An output named through a symlink of the user's own is appended to, at
// the file it leads to (a planted one of another user's is refused above).
TEST(JournalTrust, AnOutputThroughTheUsersOwnSymlinkIsAppended) {
  ScratchDir dir;
  const Texts alone = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "1");
  spill(dir / "real-sum.txt", kSum);
  fs::create_symlink(dir / "real-sum.txt", dir / "sum.txt");
  const Outcome o = run(TILVEX_BINARY, args(dir / "sum.txt", dir / "acc.txt", "95", "1"), dir / "stdout",
                        Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 0) << slurp(dir / "stderr");
  EXPECT_EQ(slurp(dir / "real-sum.txt"), kSum + alone.summary);
  EXPECT_TRUE(fs::is_symlink(dir / "sum.txt"));
  EXPECT_EQ(slurp(dir / "acc.txt"), alone.lines);
}

// Two appends that died, one over both files and a later one over the
// second file alone: the first cuts the second file only by its own
// journal, which is the later append's; so the later append's committed
// part of it stays (cut back to where the later append began, not to
// where the first one began).
TEST(JournalTrust, AFilesOwnJournalDecidesItsLength) {
  ScratchDir dir;
  const std::string sum = dir / "sum.txt", acc = dir / "acc.txt";
  const std::string committed = "a run the later append found committed\n";
  spill(sum, kSum + "half a summ");
  spill(acc, kAcc + committed + "half a li");
  const auto entry = [](const std::string& path, std::size_t length) {
    struct stat st {};
    stat(path.c_str(), &st);
    return journal::FileEntry{st.st_dev, st.st_ino, static_cast<off_t>(length), path};
  };
  journal::Journal first, later;
  first.tx = 1;
  first.files = {entry(sum, kSum.size()), entry(acc, kAcc.size())};
  later.tx = 2;
  later.files = {entry(acc, kAcc.size() + committed.size())};
  spill(journal::path_for(sum), journal::encode(first));
  spill(journal::path_for(acc), journal::encode(later));
  const Texts alone = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "1");
  const Outcome o = run(TILVEX_BINARY, args(sum, acc, "95", "1"), dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 0) << slurp(dir / "stderr");
  EXPECT_EQ(slurp(sum), kSum + alone.summary);
  EXPECT_EQ(slurp(acc), kAcc + committed + alone.lines);
}

}  // namespace
}  // namespace tilvex::test
