// End-to-end: a run killed at any moment, stopped by a signal, waiting for
// a lock, or facing a hostile journal leaves whole runs only, and its
// status tells the truth.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/run.hpp"
#include "../support/trace.hpp"
#include "files/journal.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";
const std::string kOld = "an earlier summary\n", kOld2 = "an earlier line\n";

std::vector<std::string> args_for(const ScratchDir& dir, const std::string& grid) {
  return {kRealistic, dir / "out.txt", "95", dir / "out2.txt", grid, "0", "0", "1"};
}

void fresh_files(const ScratchDir& dir) {
  spill(dir / "out.txt", kOld);
  spill(dir / "out2.txt", kOld2);
}

// A whole commit journal that records `file` at `length` bytes, under its
// inode plus `inode_shift` (0: the file as it is).
std::string journal_naming(const std::string& file, off_t length, ino_t inode_shift) {
  struct stat st {};
  stat(file.c_str(), &st);
  journal::Journal j;
  j.tx = 7;
  j.files = {{st.st_dev, st.st_ino + inode_shift, length, file}};
  return journal::encode(j);
}

bool journals_left(const ScratchDir& dir) {
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().filename().string().find(".tilvex-journal") != std::string::npos) return true;
  return false;
}

// After a killed run (grid 1) and one normal run (grid 2), the files hold
// what they held, the killed run whole or not at all, and the normal run.
void expect_whole_runs(const ScratchDir& dir, const Texts& killed, const Texts& normal,
                       int killed_status, const std::string& what) {
  const std::string out = slurp(dir / "out.txt"), out2 = slurp(dir / "out2.txt");
  const bool with = out == kOld + killed.summary + normal.summary &&
                    out2 == kOld2 + killed.lines + normal.lines;
  const bool without = out == kOld + normal.summary && out2 == kOld2 + normal.lines;
  EXPECT_TRUE(with || without) << what << ": " << out.size() << " and " << out2.size() << " bytes";
  // Status 0 exactly when the run is in the files (SIGKILL after the
  // commit is the exception: appended, but killed).
  if (killed_status == 0) {
    EXPECT_TRUE(with) << what;
  } else if (killed_status != 128 + SIGKILL) {
    EXPECT_TRUE(without) << what;
  }
  EXPECT_FALSE(journals_left(dir)) << what;
}

TEST(Crash, KilledAtEverySystemCallLeavesWholeRuns) {
  ScratchDir dir;
  const Texts killed = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "1");
  const Texts normal = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "2");
  fresh_files(dir);
  const Traced whole = run_killed_at(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout",
                                     dir / "stderr", -1);
  ASSERT_EQ(whole.status, 0);
  ASSERT_GT(whole.calls, 10);
  int recovered = 0;
  for (long k = 0; k <= whole.calls; ++k) {
    fresh_files(dir);
    const Traced t = run_killed_at(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout",
                                   dir / "stderr", k);
    const Launch how{"/dev/null", -1, dir / "recovery"};
    ASSERT_EQ(run(TILVEX_BINARY, args_for(dir, "2"), dir / "stdout", how).status, 0);
    if (slurp(dir / "recovery").find("recovered") != std::string::npos) ++recovered;
    expect_whole_runs(dir, killed, normal, t.status, "killed at call " + std::to_string(k));
  }
  EXPECT_GT(recovered, 0);  // some kills came after the journal
}

// A run that waits for a lock ends at once on SIGTERM, by the signal, with
// nothing written.
TEST(Crash, SigtermWhileWaitingForALock) {
  ScratchDir dir;
  fresh_files(dir);
  const int held = open((dir / "out2.txt").c_str(), O_RDWR);
  ASSERT_TRUE(lock_whole_file(held));
  const int held1 = open((dir / "out.txt").c_str(), O_RDWR);
  ASSERT_TRUE(lock_whole_file(held1));
  const pid_t pid = start(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(pid), 128 + SIGTERM);  // before the locks were let go
  close(held);
  close(held1);
  EXPECT_EQ(slurp(dir / "out.txt"), kOld);
  EXPECT_EQ(slurp(dir / "out2.txt"), kOld2);
  EXPECT_FALSE(journals_left(dir));
}

TEST(Crash, LockNoticeAndTimeout) {
  ScratchDir dir;
  fresh_files(dir);
  const int held = open((dir / "out2.txt").c_str(), O_RDWR);
  ASSERT_TRUE(lock_whole_file(held));
  const Launch how{"/dev/null", -1, dir / "stderr",
                   {"TILVEX_LOCK_NOTICE=0.2", "TILVEX_LOCK_TIMEOUT=0.6"}};
  const Outcome o = run(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout", how);
  close(held);
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to write " + dir / "out2.txt" + "\n");
  const std::string err = slurp(dir / "stderr");
  ASSERT_LT(err.size(), 1000u);
  EXPECT_NE(err.find("tilvex: waiting for '" + dir / "out2.txt" + "', locked by process " +
                     std::to_string(getpid()) + "\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("it stayed locked past TILVEX_LOCK_TIMEOUT"), std::string::npos) << err;
  EXPECT_EQ(slurp(dir / "out.txt"), kOld);
  EXPECT_EQ(slurp(dir / "out2.txt"), kOld2);

  // A notice at once, and the lock held through several ticks of the wait
  // (from the notice on), then let go: the notice is said once, and the
  // run appends.
  const Texts alone = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "1");
  const int held2 = open((dir / "out2.txt").c_str(), O_RDWR);
  ASSERT_TRUE(lock_whole_file(held2));
  // A standard error of its own: the first run's, which says "waiting for"
  // too, could be read before the child has opened (and emptied) it.
  const pid_t pid = start(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout",
                          Launch{"/dev/null", -1, dir / "stderr2", {"TILVEX_LOCK_NOTICE=0"}});
  for (int i = 0; i < 6000 && slurp(dir / "stderr2").find("waiting for") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  close(held2);
  EXPECT_EQ(finish_within(pid, 60), 0);
  const std::string waited = slurp(dir / "stderr2");
  EXPECT_EQ(waited, "tilvex: waiting for '" + dir / "out2.txt" + "', locked by process " + std::to_string(getpid()) +
                        "\n");
  EXPECT_EQ(slurp(dir / "out.txt"), kOld + alone.summary);
  EXPECT_EQ(slurp(dir / "out2.txt"), kOld2 + alone.lines);
}

// Pipes and devices are neither locked nor journaled: a lock on /dev/null
// holds nobody up, and a run stuck writing to a FIFO nobody reads still
// ends on SIGTERM, its regular file rolled back by the next run.
TEST(Crash, PipesAndDevices) {
  ScratchDir dir;
  fresh_files(dir);
  const int null = open("/dev/null", O_RDWR);
  lock_whole_file(null);  // whether or not the device takes it
  EXPECT_EQ(run(TILVEX_BINARY, {kRealistic, dir / "out.txt", "95", "/dev/null", "1", "0", "0", "1"},
                dir / "stdout", Launch{"/dev/null", -1, "", {"TILVEX_LOCK_TIMEOUT=5"}})
                .status,
            0);
  close(null);
  const std::string with_summary = slurp(dir / "out.txt");
  EXPECT_GT(with_summary.size(), kOld.size());

  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);  // never reads
  // The accepted lines (150 kB) fill the FIFO and block the run.
  const pid_t pid = start(TILVEX_BINARY, {kRealistic, dir / "out.txt", "95", dir / "fifo", "1", "0", "0", "1"},
                          dir / "stdout");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGTERM);
  EXPECT_EQ(finish_within(pid, 10), 128 + SIGTERM);
  close(reader);
  const Texts normal = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "2");
  ASSERT_EQ(run(TILVEX_BINARY, args_for(dir, "2"), dir / "stdout").status, 0);
  EXPECT_TRUE(slurp(dir / "out.txt") == with_summary + normal.summary);
  EXPECT_FALSE(journals_left(dir));
}

// Lock settings that do not read are refused before any file is touched:
// "abc" used to mean a timeout of 0 seconds.
TEST(Crash, SettingsThatDoNotReadTouchNoFile) {
  ScratchDir dir;
  for (const std::string setting : {"TILVEX_LOCK_TIMEOUT=abc", "TILVEX_LOCK_TIMEOUT=-1", "TILVEX_LOCK_NOTICE=10s",
                                     "TILVEX_SYNC=yes", "TILVEX_LOCK_TIMEOUT=0x10", "TILVEX_LOCK_TIMEOUT=+5",
                                     "TILVEX_LOCK_NOTICE=1e-999", "TILVEX_LOCK_TIMEOUT=.",
                                     "TILVEX_LOCK_TIMEOUT=10000000000"}) {
    const Outcome o = run(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout",
                          Launch{"/dev/null", -1, dir / "stderr", {setting}});
    EXPECT_EQ(o.status, 215) << setting;
    EXPECT_EQ(o.printed.rfind("usage: tilvex.exe ", 0), 0u) << setting;
    const std::string name = setting.substr(0, setting.find('='));
    EXPECT_EQ(slurp(dir / "stderr").rfind("tilvex: " + name + " '" + setting.substr(name.size() + 1) + "' is ", 0), 0u)
        << slurp(dir / "stderr");
    EXPECT_FALSE(fs::exists(dir / "out.txt") || fs::exists(dir / "out2.txt")) << setting;
  }
  for (const std::vector<std::string>& fine : {std::vector<std::string>{"TILVEX_LOCK_TIMEOUT=0.5", "TILVEX_SYNC=0"},
                                              std::vector<std::string>{"TILVEX_LOCK_NOTICE=1000000000", "TILVEX_SYNC="}}) {
    const Outcome o = run(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout", Launch{"/dev/null", -1, dir / "stderr", fine});
    EXPECT_EQ(o.status, 0) << slurp(dir / "stderr");
  }
}

// A stopping signal at the moments a run changes its signal mask, takes
// its locks and commits: status 0 exactly when the run is in the files,
// and a run that is in is whole. strace sends the signal as the run makes
// the call (a committed run used to end with 143 when the signal came
// between restoring the mask and ignoring the signals).
TEST(Crash, AStoppingSignalAtEachTurnOfTheAppend) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  ScratchDir dir;
  const Texts alone = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "1");
  int appended = 0, not_appended = 0;
  // Every such call of the first few (a sanitizer's runtime makes some of
  // its own, so which one is the commit's is not fixed).
  std::vector<std::string> points;
  for (const auto& [call, count] : {std::pair{"fcntl", 4}, std::pair{"rt_sigprocmask", 12},
                                    std::pair{"unlinkat", 4}, std::pair{"rt_sigaction", 12}})
    for (int when = 1; when <= count; ++when) points.push_back(std::string(call) + ":when=" + std::to_string(when));
  for (const std::string& at : points) {
    fresh_files(dir);
    std::vector<std::string> args = {"-f", "-o", "/dev/null", "-e", "inject=" + at.substr(0, at.find(':')) +
                                     ":signal=TERM:" + at.substr(at.find(':') + 1), TILVEX_BINARY};
    const auto a = args_for(dir, "1");
    args.insert(args.end(), a.begin(), a.end());
    // strace ends as the traced run does: its status, or by its signal.
    // (LeakSanitizer, where built in, cannot run under a tracer.)
    const int status = finish(start("/usr/bin/strace", args, dir / "stdout",
                                    Launch{"/dev/null", -1, dir / "stderr", {"ASAN_OPTIONS=detect_leaks=0"}}));
    const std::string out = slurp(dir / "out.txt"), out2 = slurp(dir / "out2.txt");
    const bool in = out == kOld + alone.summary && out2 == kOld2 + alone.lines;
    const bool out_of_it = out == kOld && out2 == kOld2;
    ASSERT_TRUE(in || out_of_it) << "signal at " << at;
    EXPECT_EQ(status == 0, in) << "signal at " << at << ": status " << status;
    EXPECT_TRUE(status == 0 || status == 128 + SIGTERM) << at << ": " << status;
    (in ? appended : not_appended) += 1;
  }
  EXPECT_GE(not_appended, 2);  // at least the signals while it takes the locks
  EXPECT_GT(appended, 0);

  // Each stopping signal, as the journal is written: held back, so the
  // append goes on and is committed, and the run says so.
  for (const char* signal : {"TERM", "INT", "HUP", "QUIT"}) {
    fresh_files(dir);
    std::vector<std::string> args = {"-f", "-o", "/dev/null", "-e",
                                     std::string("inject=writev:signal=") + signal + ":when=1", TILVEX_BINARY};
    const auto a = args_for(dir, "1");
    args.insert(args.end(), a.begin(), a.end());
    const int status = finish(start("/usr/bin/strace", args, dir / "stdout",
                                    Launch{"/dev/null", -1, dir / "stderr", {"ASAN_OPTIONS=detect_leaks=0"}}));
    EXPECT_EQ(status, 0) << signal;
    EXPECT_EQ(slurp(dir / "out.txt"), kOld + alone.summary) << signal;
    EXPECT_TRUE(slurp(dir / "out2.txt") == kOld2 + alone.lines) << signal;
  }
}

// What stands at a journal's name that a run may not act on: the run cuts
// no file and appends nothing, and says why; a journal of its own whose
// file is gone is taken away, and the run appends.
TEST(Crash, HostileJournals) {
  ScratchDir dir;
  const Texts normal = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "2");
  const std::string journal = dir.path() / ".out2.txt.tilvex-journal";
  // A symlink to a file the run must not touch.
  fresh_files(dir);
  spill(dir / "victim", "victim\n");
  fs::create_symlink(dir / "victim", journal);
  Outcome o = run(TILVEX_BINARY, args_for(dir, "2"), dir / "stdout",
                  Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to write " + dir / "out2.txt" + "\n");
  EXPECT_EQ(slurp(dir / "victim"), "victim\n");
  EXPECT_NE(slurp(dir / "stderr").find("is in the way of its journal: it is a symbolic link"),
            std::string::npos) << slurp(dir / "stderr");
  EXPECT_EQ(slurp(dir / "out2.txt"), kOld2);
  EXPECT_EQ(slurp(dir / "out.txt"), kOld);
  fs::remove(journal);

  // A whole journal of ours that names out2.txt, but under another inode:
  // the file it recorded is gone.
  fresh_files(dir);
  spill(journal, journal_naming(dir / "out2.txt", 3, 1000));
  o = run(TILVEX_BINARY, args_for(dir, "2"), dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(slurp(dir / "stderr").find("no longer the file it recorded"), std::string::npos)
      << slurp(dir / "stderr");
  EXPECT_EQ(slurp(dir / "out2.txt"), kOld2 + normal.lines);  // not cut to 3 bytes
  EXPECT_FALSE(journals_left(dir));

  // Owned by a third user, who may not write the file it would cut. Needs
  // root, to be that user and to run as another.
  if (geteuid() != 0) GTEST_SKIP() << "the third-user case needs root";
  const passwd* found = getpwnam("nobody");  // static storage: copy what is needed
  ASSERT_TRUE(found);
  const uid_t nobody_uid = found->pw_uid;
  const gid_t nobody_gid = found->pw_gid;
  found = getpwnam("daemon");
  ASSERT_TRUE(found);
  const uid_t daemon_uid = found->pw_uid;
  const gid_t daemon_gid = found->pw_gid;
  ScratchDir shared;
  chmod(shared.path().c_str(), 0777);
  fs::copy_file(TILVEX_BINARY, shared / "tilvex");
  fs::copy_file(kRealistic, shared / "in.vrin");
  chmod((shared / "tilvex").c_str(), 0755);
  chmod((shared / "in.vrin").c_str(), 0644);
  for (const char* f : {"out.txt", "out2.txt"}) {
    spill(shared / f, "kept\n");
    chown((shared / f).c_str(), nobody_uid, nobody_gid);
    chmod((shared / f).c_str(), 0644);
  }
  // A real journal of daemon's, cut to a length of 0: it would empty out2.txt.
  const std::string third = shared.path() / ".out2.txt.tilvex-journal";
  spill(third, journal_naming(shared / "out2.txt", 0, 0));
  chown(third.c_str(), daemon_uid, daemon_gid);
  o = run("/usr/bin/setpriv",
          {"--reuid=nobody", "--regid=nogroup", "--clear-groups", shared / "tilvex",
           shared / "in.vrin", shared / "out.txt", "95", shared / "out2.txt", "2", "0", "0", "1"},
          dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 252) << o.printed << slurp(dir / "stderr");
  EXPECT_NE(slurp(dir / "stderr").find("a journal of uid " + std::to_string(daemon_uid) + ", who may not write"),
            std::string::npos)
      << slurp(dir / "stderr");
  EXPECT_EQ(slurp(shared / "out2.txt"), "kept\n");
  EXPECT_EQ(slurp(shared / "out.txt"), "kept\n");
}

// Another process takes the two locks in the other order and waits: the
// kernel answers one of the two requests with EDEADLK. tilvex lets go,
// waits and tries again; it never writes while the other holds a lock.
TEST(Crash, DeadlockWithAProcessThatLocksTheOtherWay) {
  ScratchDir dir;
  const Texts normal = run_alone(TILVEX_BINARY, kRealistic, dir, "95", "2");
  fresh_files(dir);
  struct stat a {}, b {};
  stat((dir / "out.txt").c_str(), &a);
  stat((dir / "out2.txt").c_str(), &b);
  // tilvex locks `first` then `second`; the other process `second` then `first`.
  const std::string first = dir / (a.st_ino < b.st_ino ? "out.txt" : "out2.txt");
  const std::string second = dir / (a.st_ino < b.st_ino ? "out2.txt" : "out.txt");
  const int fd_first = open(first.c_str(), O_RDWR), fd_second = open(second.c_str(), O_RDWR);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(fd_second, F_SETLK, &whole), 0);
  const pid_t pid = start(TILVEX_BINARY, args_for(dir, "2"), dir / "stdout",
                          Launch{"/dev/null", -1, dir / "stderr"});
  // Wait until tilvex holds `first`, then ask for it, blocking: one of the
  // two requests closes the cycle.
  const int probe = open(first.c_str(), O_RDWR);
  for (int i = 0; i < 2000; ++i) {
    struct flock q = whole;
    fcntl(probe, F_GETLK, &q);
    if (q.l_type != F_UNLCK) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  close(probe);
  // While tilvex waits for `second`, this request closes the cycle and
  // gets EDEADLK; asked again at once, it waits, and the next time tilvex
  // asks (it does every 100 ms), tilvex closes it.
  for (;;) {
    struct flock w = whole;
    if (fcntl(fd_first, F_SETLKW, &w) == 0) break;
    ASSERT_EQ(errno, EDEADLK);
  }
  // Both locks are this process's now: tilvex has written nothing.
  EXPECT_EQ(slurp(dir / "out.txt"), kOld);
  EXPECT_EQ(slurp(dir / "out2.txt"), kOld2);
  close(fd_first);
  close(fd_second);
  EXPECT_EQ(finish(pid), 0);
  EXPECT_EQ(slurp(dir / "out.txt"), kOld + normal.summary);
  EXPECT_TRUE(slurp(dir / "out2.txt") == kOld2 + normal.lines);
  EXPECT_NE(slurp(dir / "stderr").find("deadlock"), std::string::npos) << slurp(dir / "stderr");
}

// The journals are written in lock order (device, then inode) and the
// first that cannot be written ends the append: the failure is that file's,
// on standard output and in the status, whichever argument names it.
// Fault guarded: the failure was put on the last file in lock order without
// a journal, the other file (-4 for output_file's journal, or -9003).
// Runs tilvex within a file size limit of `limit` bytes, its standard
// output and error into pipes (which the limit does not reach).
struct Piped {
  int status;
  std::string out, err;
};
Piped run_limited(const std::vector<std::string>& args, long limit) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {-1, "", ""};
  std::vector<char*> argv{const_cast<char*>(TILVEX_BINARY)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    const rlimit fsize{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
    setrlimit(RLIMIT_FSIZE, &fsize);
    execv(TILVEX_BINARY, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  const int status = finish(pid);  // what it says fits in a pipe's buffer
  Piped p{status, "", ""};
  for (auto [fd, text] : {std::pair{out[0], &p.out}, std::pair{err[0], &p.err}}) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text->append(buf, static_cast<std::size_t>(n));
    close(fd);
  }
  return p;
}

TEST(Crash, AJournalThatCannotBeWrittenIsItsFilesFailure) {
  ScratchDir dir;
  fresh_files(dir);
  struct stat a {}, b {};
  ASSERT_EQ(stat((dir / "out.txt").c_str(), &a), 0);
  ASSERT_EQ(stat((dir / "out2.txt").c_str(), &b), 0);
  const bool out_first = std::pair{a.st_dev, a.st_ino} < std::pair{b.st_dev, b.st_ino};
  const std::string first = out_first ? dir / "out.txt" : dir / "out2.txt";
  for (const bool swapped : {false, true}) {
    fresh_files(dir);
    std::vector<std::string> args = args_for(dir, "1");
    if (swapped) std::swap(args[1], args[3]);
    // A limit below a journal's size, above nothing else written: the
    // first journal fails, with EFBIG.
    const Piped o = run_limited(args, 16);
    const bool first_is_output = args[1] == first;
    EXPECT_EQ(o.status, first_is_output ? 213 : 252) << swapped;
    EXPECT_EQ(o.out, "unable to write " + first + "\n") << swapped;
    EXPECT_EQ(o.err, "tilvex: cannot write the journal '" + journal::path_for(first) +
                                         "': File too large\ntilvex: cannot write to '" + first +
                                         "': File too large\n")
        << swapped;
    EXPECT_EQ(slurp(dir / "out.txt"), kOld);
    EXPECT_EQ(slurp(dir / "out2.txt"), kOld2);
    EXPECT_FALSE(journals_left(dir)) << swapped;
  }
}

// A journal of this user's that records a length: tilvex-grid --recover
// cuts the file back to it, and says so with that length; a file already
// no longer than its recorded length is left as it is (never padded).
TEST(Crash, ARecoveryCutsBackToTheRecordedLengthOnly) {
  ScratchDir dir;
  const std::string file = dir / "out2.txt", journal = dir / ".out2.txt.tilvex-journal";
  const std::string old = "0123456789\n";
  struct Case {
    off_t length;
    std::string left, said;
  };
  const Case cases[] = {
      {4, "0123", "cut '" + file + "' back to 4 bytes"},
      {0, "", "cut '" + file + "' back to 0 bytes"},
      {10, "0123456789", "cut '" + file + "' back to 10 bytes"},
      {11, old, "nothing to cut back"},
      {12, old, "nothing to cut back"},
      {4096, old, "nothing to cut back"},
  };
  for (const Case& c : cases) {
    spill(file, old);
    spill(journal, journal_naming(file, c.length, 0));
    const Outcome o = run(TILVEX_GRID, {"--recover", file}, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    EXPECT_EQ(o.status, 0) << c.length;
    EXPECT_EQ(slurp(dir / "stderr"), "tilvex-grid: recovered from an append that did not finish: " + c.said + "\n");
    EXPECT_EQ(slurp(file), c.left) << c.length;
    EXPECT_FALSE(journals_left(dir)) << c.length;
  }
}

// What a run that died leaves is read by nobody: tilvex-plot reads only
// the committed part, and tilvex-grid --recover cuts it away.
TEST(Crash, ReadersSeeOnlyWholeRunsAndRecoverCutsTheRest) {
  ScratchDir dir;
  // Killed after its first output byte (a write of the lines), so that
  // its journal is hot.
  Traced t{};
  for (long k = 0; t.status != 128 + SIGKILL || slurp(dir / "out2.txt").size() < 100; ++k) {
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().find(".tilvex-journal") != std::string::npos) fs::remove(e.path());
    fresh_files(dir);
    spill(dir / "out2.txt", "3 7 0 1 0.45 0 12 125 3 250 80\n");
    t = run_killed_at(TILVEX_BINARY, args_for(dir, "1"), dir / "stdout", dir / "stderr", k);
    ASSERT_NE(t.status, 0) << "the run was never caught after its first write";
  }
  ASSERT_TRUE(journals_left(dir));
  Outcome o = run(TILVEX_PLOT, {dir / "out2.txt"}, dir / "plot.svg");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.printed.find("1 accepted resamples"), std::string::npos);
  o = run(TILVEX_GRID, {"--recover", dir / "out.txt", dir / "out2.txt"}, dir / "stdout",
          Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(slurp(dir / "stderr").find("recovered"), std::string::npos);
  EXPECT_EQ(slurp(dir / "out.txt"), kOld);
  EXPECT_EQ(slurp(dir / "out2.txt"), "3 7 0 1 0.45 0 12 125 3 250 80\n");
  EXPECT_FALSE(journals_left(dir));
}

}  // namespace
}  // namespace tilvex::test
