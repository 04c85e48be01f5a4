// End-to-end, as an attacker: another user (nobody, through setpriv) plants
// files in a shared, sticky folder where root keeps its results. Whatever
// is planted, root's runs never cut, write or lock a file of root's for
// it, never follow a symlink found in a journal, and never wait for it.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/run.hpp"
#include "../support/trace.hpp"
#include "files/journal.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";
const std::string kSum = "root's summary line\n", kAcc = "root's accepted line\n";

const std::vector<std::string> kNobody = {"--reuid=nobody", "--regid=nogroup", "--clear-groups"};

// A mode-1777 folder with root's two 0600 result files, holding old bytes.
struct Shared {
  ScratchDir dir;
  Shared() {
    chmod(dir.path().c_str(), 01777);
    for (const auto& [name, text] : {std::pair{"sum.txt", kSum}, std::pair{"acc.txt", kAcc}}) {
      spill(dir / name, text);
      chmod((dir / name).c_str(), 0600);
    }
  }
  std::string operator/(const std::string& name) const { return dir / name; }
  bool untouched() const { return slurp(dir / "sum.txt") == kSum && slurp(dir / "acc.txt") == kAcc; }
  std::vector<std::string> tilvex_args(const std::string& grid = "1") const {
    return {kRealistic, dir / "sum.txt", "95", dir / "acc.txt", grid, "0", "0", "1"};
  }
};

// Runs `program args...` as nobody and waits for it.
int as_nobody(const std::string& program, const std::vector<std::string>& args, const ScratchDir& out) {
  std::vector<std::string> all = kNobody;
  all.push_back(program);
  all.insert(all.end(), args.begin(), args.end());
  return run("/usr/bin/setpriv", all, out / "nobody.out", Launch{"/dev/null", -1, out / "nobody.err"}).status;
}

// Nobody writes `text` to `path` (a file of nobody's own).
void plant(const Shared& s, const std::string& path, const std::string& text) {
  const std::string staged = s / "staged";
  spill(staged, text);
  chmod(staged.c_str(), 0644);
  ASSERT_EQ(as_nobody("/bin/cp", {staged, path}, s.dir), 0) << slurp(s / "nobody.err");
  fs::remove(staged);
}

// A whole commit journal naming `files` (path as recorded, the identity of
// the file at `identity_of`, the length to cut back to).
struct Named {
  std::string path, identity_of;
  off_t length;
};
std::string journal_of(const std::vector<Named>& files) {
  journal::Journal j;
  j.tx = 0x5eed;
  for (const Named& n : files) {
    struct stat st {};
    stat(n.identity_of.c_str(), &st);
    j.files.push_back({st.st_dev, st.st_ino, n.length, n.path});
  }
  return journal::encode(j);
}

#define NEEDS_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "an attack by another user needs root, to be that user"

// A journal of nobody's that carries the device and inode of root's files
// but the path of a file nobody owns: root's run, grid and recovery cut
// nothing, and the runs refuse with the reason.
TEST(Attacks, AForgedJournalCutsNothing) {
  NEEDS_ROOT();
  Shared s;
  plant(s, s / "mine.txt", "nobody's\n");
  plant(s, s / ".acc.txt.tilvex-journal",
        journal_of({{s / "mine.txt", s / "acc.txt", 0}, {s / "mine.txt", s / "sum.txt", 5}}));
  Outcome o = run(TILVEX_BINARY, s.tilvex_args(), s / "stdout", Launch{"/dev/null", -1, s / "stderr"});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to write " + s / "acc.txt" + "\n");
  EXPECT_NE(slurp(s / "stderr").find("who may not write"), std::string::npos) << slurp(s / "stderr");
  EXPECT_TRUE(s.untouched());

  o = run(TILVEX_GRID, {"--recover", s / "acc.txt", s / "sum.txt"}, s / "stdout",
          Launch{"/dev/null", -1, s / "stderr"});
  EXPECT_TRUE(s.untouched()) << slurp(s / "stderr");

  spill(s / "grid.txt", kRealistic + " 1 0 0 1\n");
  o = run(TILVEX_GRID, {s / "grid.txt", s / "sum.txt", "95", s / "acc.txt"}, s / "stdout",
          Launch{"/dev/null", -1, s / "stderr"});
  EXPECT_NE(o.status, 0);
  EXPECT_TRUE(s.untouched()) << slurp(s / "stderr");
  EXPECT_EQ(slurp(s / "mine.txt"), "nobody's\n");
}

// A journal of nobody's names a path through a symlink that nobody flips,
// for seconds, between a folder of its own and a folder of root's holding
// a root-only file: that file never changes, however often root runs.
TEST(Attacks, AFlippingSymlinkNeverLeadsARunOutOfItsFolder) {
  NEEDS_ROOT();
  Shared s;
  ScratchDir root_only;  // 0700 by mkdtemp, root's
  chmod(root_only.path().c_str(), 0755);
  const std::string kProtected = "root's protected bytes\n";
  spill(root_only / "f", kProtected);
  chmod((root_only / "f").c_str(), 0600);
  ASSERT_EQ(as_nobody("/bin/mkdir", {s / "own"}, s.dir), 0);
  plant(s, s / "own/f", "nobody's\n");
  ASSERT_EQ(as_nobody("/bin/ln", {"-s", s / "own", s / "link"}, s.dir), 0);
  // The journal names link/f with the protected file's identity, length 0,
  // at the name of root's acc.txt journal and at nobody's own file's.
  const std::string forged = journal_of({{s / "link/f", root_only / "f", 0}});
  plant(s, s / ".acc.txt.tilvex-journal", forged);
  plant(s, s / "own/.f.tilvex-journal", forged);
  // One process that flips the link itself: a shell would leave its last
  // ln running after it is killed, renaming in the folder as it is removed.
  const std::string flip = "import os\n"
                           "while True:\n"
                           "    for target in ('" + s / "own" + "', '" + root_only.path().string() + "'):\n"
                           "        try:\n"
                           "            os.remove('" + s / "link.new" + "')\n"
                           "        except FileNotFoundError:\n"
                           "            pass\n"
                           "        os.symlink(target, '" + s / "link.new" + "')\n"
                           "        os.replace('" + s / "link.new" + "', '" + s / "link" + "')\n";
  std::vector<std::string> flipper = kNobody;
  for (const std::string& a : {std::string("/usr/bin/python3"), std::string("-c"), flip}) flipper.push_back(a);
  struct Flipper {
    pid_t pid;
    ~Flipper() {
      kill(pid, SIGKILL);
      finish(pid);
    }
  } flipping{start("/usr/bin/setpriv", flipper, s / "flipper.out")};
  // For 3 seconds, and 20 runs at least however slow the machine is.
  int runs = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (runs < 20 || std::chrono::steady_clock::now() < until) {
    run(TILVEX_BINARY, s.tilvex_args(), s / "stdout", Launch{"/dev/null", -1, s / "stderr"});
    run(TILVEX_GRID, {"--recover", s / "acc.txt", s / "sum.txt", s / "link/f"}, s / "stdout",
        Launch{"/dev/null", -1, s / "stderr"});
    ++runs;
    ASSERT_EQ(slurp(root_only / "f"), kProtected) << "after " << runs << " runs";
  }
  EXPECT_TRUE(s.untouched());
}

// A valid journal of nobody's that names only nobody's own file, which
// nobody keeps locked: root's run does not wait for it; it refuses at once
// and says which file is in the way.
TEST(Attacks, ALockedPlantedJournalMakesNoRunWait) {
  NEEDS_ROOT();
  Shared s;
  plant(s, s / "mine.txt", "nobody's\n");
  plant(s, s / ".acc.txt.tilvex-journal", journal_of({{s / "mine.txt", s / "mine.txt", 0}}));
  std::vector<std::string> locker = kNobody;
  for (const std::string& a :
       {std::string("/usr/bin/python3"), std::string("-c"),
        "import fcntl, time\nf = open('" + s / "mine.txt" +
            "', 'a')\nfcntl.lockf(f, fcntl.LOCK_EX)\nprint('locked', flush=True)\ntime.sleep(60)\n"})
    locker.push_back(a);
  const pid_t holder = start("/usr/bin/setpriv", locker, s / "locker.out");
  while (slurp(s / "locker.out").empty()) usleep(10000);
  const pid_t victim = start(TILVEX_BINARY, s.tilvex_args(), s / "stdout", Launch{"/dev/null", -1, s / "stderr"});
  // Far longer than a run takes; a run that waits for the lock never ends.
  const int status = finish_within(victim, 30);
  kill(holder, SIGKILL);
  finish(holder);
  EXPECT_EQ(status, 252);
  EXPECT_EQ(slurp(s / "stderr").find("waiting for"), std::string::npos) << slurp(s / "stderr");
  EXPECT_NE(slurp(s / "stderr").find("that user's next run"), std::string::npos) << slurp(s / "stderr");
  EXPECT_TRUE(s.untouched());
  EXPECT_EQ(slurp(s / "mine.txt"), "nobody's\n");
}

// Junk of nobody's at both journal names: root's run never appends without
// its journal. Killed at any of its system calls, it leaves the files as
// they were; once root removes the junk, a run killed at any system call
// leaves whole runs only, never a torn or glued line.
TEST(Attacks, JunkAtTheJournalNamesStopsTheAppend) {
  NEEDS_ROOT();
  Shared s;
  plant(s, s / ".acc.txt.tilvex-journal", "junk\n");
  // Junk of another user's that is not a whole journal is not taken for a
  // torn journal of one's own: it stays, and the append does not happen.
  Outcome o = run(TILVEX_BINARY, s.tilvex_args(), s / "stdout", Launch{"/dev/null", -1, s / "stderr"});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(slurp(s / ".acc.txt.tilvex-journal"), "junk\n");
  EXPECT_TRUE(s.untouched());
  ASSERT_EQ(as_nobody("/bin/ln", {"-s", s / "acc.txt", s / ".sum.txt.tilvex-journal"}, s.dir), 0);
  o = run(TILVEX_BINARY, s.tilvex_args(), s / "stdout", Launch{"/dev/null", -1, s / "stderr"});
  EXPECT_TRUE(o.status == 252 || o.status == 213) << o.status;
  EXPECT_NE(slurp(s / "stderr").find("is in the way of its journal"), std::string::npos) << slurp(s / "stderr");
  EXPECT_NE(slurp(s / "stderr").find("remove it to append"), std::string::npos);
  EXPECT_TRUE(s.untouched());
  for (long k = 0;; k += 3) {
    const Traced t = run_killed_at(TILVEX_BINARY, s.tilvex_args(), s / "stdout", s / "stderr", k);
    ASSERT_TRUE(s.untouched()) << "killed at system call " << k;
    if (t.status != 128 + SIGKILL) break;
  }

  fs::remove(s / ".acc.txt.tilvex-journal");
  fs::remove(s / ".sum.txt.tilvex-journal");
  const Texts alone = run_alone(TILVEX_BINARY, kRealistic, s.dir, "95", "1");
  for (long k = 0;; k += 5) {
    spill(s / "sum.txt", kSum);
    spill(s / "acc.txt", kAcc);
    const Traced t = run_killed_at(TILVEX_BINARY, s.tilvex_args(), s / "stdout", s / "stderr", k);
    run(TILVEX_GRID, {"--recover", s / "acc.txt", s / "sum.txt"}, s / "stdout", Launch{"/dev/null", -1, s / "stderr"});
    const bool with = slurp(s / "sum.txt") == kSum + alone.summary && slurp(s / "acc.txt") == kAcc + alone.lines;
    ASSERT_TRUE(with || s.untouched()) << "killed at system call " << k;
    if (t.status != 128 + SIGKILL) break;
  }
}

// Another user's journal is rolled back when that user may write every
// file it names (a group's or anyone's file): that user could have cut
// them anyway. The same journal over root's 0600 files is refused.
TEST(Attacks, ARollbackOnlyForAUserWhoMayWriteTheFiles) {
  NEEDS_ROOT();
  Shared s;
  const Texts alone = run_alone(TILVEX_BINARY, kRealistic, s.dir, "95", "1");
  // Nobody's append that died: a line cut short after root's bytes.
  for (const char* f : {"sum.txt", "acc.txt"}) chmod((s / f).c_str(), 0666);
  ASSERT_EQ(as_nobody("/bin/sh", {"-c", "printf 'half a li' >> " + s / "acc.txt"}, s.dir), 0);
  const std::string dead = journal_of({{s / "acc.txt", s / "acc.txt", static_cast<off_t>(kAcc.size())},
                                       {s / "sum.txt", s / "sum.txt", static_cast<off_t>(kSum.size())}});
  plant(s, s / ".acc.txt.tilvex-journal", dead);
  Outcome o = run(TILVEX_BINARY, s.tilvex_args(), s / "stdout", Launch{"/dev/null", -1, s / "stderr"});
  EXPECT_EQ(o.status, 0) << slurp(s / "stderr");
  EXPECT_EQ(slurp(s / "acc.txt"), kAcc + alone.lines);
  EXPECT_EQ(slurp(s / "sum.txt"), kSum + alone.summary);
  EXPECT_NE(slurp(s / "stderr").find("recovered"), std::string::npos);

  // The same over root's 0600 files: nobody could not have cut them.
  Shared t;
  plant(t, t / ".acc.txt.tilvex-journal",
        journal_of({{t / "acc.txt", t / "acc.txt", 0}, {t / "sum.txt", t / "sum.txt", 0}}));
  o = run(TILVEX_BINARY, t.tilvex_args(), t / "stdout", Launch{"/dev/null", -1, t / "stderr"});
  EXPECT_EQ(o.status, 252);
  EXPECT_TRUE(t.untouched());
}

// Another user's file at the name of root's netCDF file is left as it is,
// and never read, whatever it holds: a sparse file of a GiB that begins as
// an HDF5 file does (it was read whole and copied, as root: 2 GiB and 20
// seconds, or an abort where memory is limited), or a grid's netCDF file
// that nobody copied there (the netCDF library never parses another
// user's bytes for root).
TEST(Attacks, ANetcdfFilePlantedAtItsNameIsNeverRead) {
  NEEDS_ROOT();
  Shared s;
  spill(s / "grid.txt", kRealistic + " 1 0 0 0\n");
  ASSERT_EQ(run(TILVEX_GRID, {s / "grid.txt", s / "o.txt", "95", s / "o2.txt", "--table", s / "t.tsv", "--netcdf",
                              s / "root.nc"},
                s / "stdout", Launch{"/dev/null", -1, s / "stderr"})
                .status,
            0)
      << slurp(s / "stderr");
  ASSERT_EQ(as_nobody("/bin/cp", {s / "root.nc", s / "copy.nc"}, s.dir), 0);
  ASSERT_EQ(as_nobody("/bin/sh", {"-c", "printf '\\211HDF\\r\\n\\032\\n' > " + s / "big.nc" + " && truncate -s 1G " +
                                            s / "big.nc"},
                      s.dir),
            0);
  std::string start(8, '\0');
  std::ifstream(s / "big.nc", std::ios::binary).read(start.data(), 8);
  ASSERT_EQ(start, std::string("\x89HDF\r\n\x1a\n", 8));
  const uid_t nobody = getpwnam("nobody")->pw_uid;
  Launch how{"/dev/null", -1, s / "stderr"};
#if !defined(__SANITIZE_ADDRESS__)  // its shadow memory alone reserves more
  how.memory_limit = 1L << 30;  // far more than a grid of one point needs
#endif
  for (const char* planted : {"big.nc", "copy.nc"}) {
    SCOPED_TRACE(planted);
    struct stat before {};
    ASSERT_EQ(stat((s / planted).c_str(), &before), 0);
    const std::string why = "'" + s / planted + "' is another user's file; it is left as it is\n";
    EXPECT_EQ(run(TILVEX_NETCDF, {s / "t.tsv", s / planted}, s / "stdout", how).status, 2);
    EXPECT_EQ(slurp(s / "stderr"), "tilvex-netcdf: " + why);
    EXPECT_EQ(run(TILVEX_GRID, {s / "grid.txt", s / "sum.txt", "95", s / "acc.txt", "--netcdf", s / planted},
                  s / "stdout", how)
                  .status,
              2);
    EXPECT_EQ(slurp(s / "stderr"), "tilvex-grid: --netcdf " + why);
    EXPECT_TRUE(s.untouched());
    struct stat after {};
    ASSERT_EQ(stat((s / planted).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, nobody);
    EXPECT_EQ(after.st_size, before.st_size);
  }
  EXPECT_EQ(slurp(s / "copy.nc"), slurp(s / "root.nc"));
}

}  // namespace
}  // namespace tilvex::test
