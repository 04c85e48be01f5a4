// With TILVEX_SYNC=1, each step of an append is on disk before the step
// that relies on it, as the system calls of a run show (strace, with the
// descriptors shown as paths): the journal and its folder before the first
// output byte, the files before the commit journal goes, the folder after;
// in a rollback, the cut before the journals go. With TILVEX_SYNC=0 there
// is no sync at all.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "../support/run.hpp"
#include "files/journal.hpp"

namespace tilvex::test {
namespace {

const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";
const std::string kOld = "an earlier summary\n", kOld2 = "an earlier line\n";

// The calls of one tilvex run, "name(arguments) = result", in order.
std::vector<std::string> traced_run(const ScratchDir& dir, const std::string& sync) {
  const std::vector<std::string> args = {
      "-f", "-y", "-s", "0", "-o", dir / "calls",
      "-e", "trace=openat,fsync,fdatasync,write,writev,pwrite64,ftruncate,unlink,unlinkat",
      TILVEX_BINARY, kRealistic, dir / "out.txt", "95", dir / "out2.txt", "1", "0", "0", "1"};
  const Outcome o = run("/usr/bin/strace", args, dir / "strace.stdout",
                        Launch{"/dev/null", -1, dir / "strace.stderr",
                               {"TILVEX_SYNC=" + sync, "ASAN_OPTIONS=detect_leaks=0"}});
  EXPECT_EQ(o.status, 0) << slurp(dir / "strace.stderr");
  std::vector<std::string> calls;
  std::istringstream log(slurp(dir / "calls"));
  for (std::string line; std::getline(log, line);) {
    const std::size_t pid_end = line.find(' ');  // "-f" puts the pid first
    calls.push_back(line.substr(line.find_first_not_of(' ', pid_end)));
  }
  return calls;
}

using Match = std::function<bool(const std::string&)>;

// The first call from `from` on that `match` takes, or calls.size().
std::size_t find(const std::vector<std::string>& calls, std::size_t from, const Match& match) {
  while (from < calls.size() && !match(calls[from])) ++from;
  return from;
}

// A call named `name` whose first argument is the descriptor of `path`.
Match on(const std::string& name, const std::string& path) {
  return [=](const std::string& c) {
    if (c.rfind(name + "(", 0) != 0) return false;
    const std::size_t open = c.find('<'), close = c.find('>');
    return open < c.find_first_of(",)") && close != std::string::npos &&
           c.compare(open + 1, close - open - 1, path) == 0;
  };
}

// The removal of the journal of `file` (a name in `dir`).
Match removal(const ScratchDir& dir, const std::string& file) {
  const std::string journal = journal::name_for(file), path = dir / journal;
  return [=](const std::string& c) {
    return (c.rfind("unlinkat(", 0) == 0 && c.find("\"" + journal + "\"") != std::string::npos) ||
           (c.rfind("unlink(", 0) == 0 && c.find(path) != std::string::npos);
  };
}

Match output_write(const ScratchDir& dir) {
  return [out = dir / "out.txt", out2 = dir / "out2.txt"](const std::string& c) {
    for (const char* name : {"write", "writev", "pwrite64"})
      if (on(name, out)(c) || on(name, out2)(c)) return true;
    return false;
  };
}

TEST(SyncOrder, EachStepIsOnDiskBeforeTheNext) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  // A plain append of both files.
  {
    ScratchDir dir;
    spill(dir / "out.txt", kOld);
    spill(dir / "out2.txt", kOld2);
    const std::vector<std::string> calls = traced_run(dir, "1");
    const std::size_t first_byte = find(calls, 0, output_write(dir));
    ASSERT_LT(first_byte, calls.size()) << "nothing was written to the outputs";
    for (const std::string file : {"out.txt", "out2.txt"}) {
      const std::string journal = dir / journal::name_for(file);
      const std::size_t written = std::min(find(calls, 0, on("write", journal)), find(calls, 0, on("writev", journal)));
      const std::size_t synced = find(calls, written, on("fsync", journal));
      const std::size_t folder_synced = find(calls, synced, on("fsync", dir.path().string()));
      EXPECT_LT(written, first_byte) << file << "'s journal";
      EXPECT_LT(synced, first_byte) << file << "'s journal is not synced before the first output byte";
      EXPECT_LT(folder_synced, first_byte) << "the folder is not synced after " << file << "'s journal";
    }
    std::size_t last_byte = first_byte;
    for (std::size_t at = first_byte; at < calls.size(); ++at)
      if (output_write(dir)(calls[at])) last_byte = at;
    const std::size_t commit = std::min(find(calls, last_byte, removal(dir, "out.txt")),
                                        find(calls, last_byte, removal(dir, "out2.txt")));
    ASSERT_LT(commit, calls.size()) << "no journal was removed after the append";
    for (const std::string file : {"out.txt", "out2.txt"})
      EXPECT_LT(find(calls, last_byte, on("fsync", dir / file)), commit)
          << file << " is not synced before the commit journal goes";
    const std::size_t next_removal = std::min(find(calls, commit + 1, removal(dir, "out.txt")),
                                              find(calls, commit + 1, removal(dir, "out2.txt")));
    EXPECT_LT(find(calls, commit, on("fsync", dir.path().string())), next_removal)
        << "the folder is not synced after the commit journal goes";
  }

  // TILVEX_SYNC=0: the same append without a single sync.
  {
    ScratchDir dir;
    spill(dir / "out.txt", kOld);
    spill(dir / "out2.txt", kOld2);
    for (const std::string& c : traced_run(dir, "0"))
      EXPECT_TRUE(c.rfind("fsync(", 0) != 0 && c.rfind("fdatasync(", 0) != 0) << c;
  }

  // A rollback: a run that died left torn bytes in out2.txt and its
  // journal; the cut is on disk before that journal goes.
  {
    ScratchDir dir;
    spill(dir / "out.txt", kOld);
    spill(dir / "out2.txt", kOld2 + "torn bytes of a run that died");
    struct stat st {};
    stat((dir / "out2.txt").c_str(), &st);
    journal::Journal j;
    j.tx = 11;
    j.files = {{st.st_dev, st.st_ino, static_cast<off_t>(kOld2.size()), dir / "out2.txt"}};
    spill(dir / journal::name_for("out2.txt"), journal::encode(j));
    const std::vector<std::string> calls = traced_run(dir, "1");
    const std::size_t cut = find(calls, 0, on("ftruncate", dir / "out2.txt"));
    ASSERT_LT(cut, calls.size()) << "out2.txt was not cut back";
    EXPECT_NE(calls[cut].find(", " + std::to_string(kOld2.size()) + ")"), std::string::npos) << calls[cut];
    const std::size_t gone = find(calls, cut, removal(dir, "out2.txt"));
    ASSERT_LT(gone, calls.size()) << "the dead run's journal was not removed";
    EXPECT_LT(find(calls, cut, on("fsync", dir / "out2.txt")), gone)
        << "the cut is not synced before the journal goes";
    EXPECT_EQ(slurp(dir / "out2.txt").rfind(kOld2, 0), 0u);
    EXPECT_EQ(slurp(dir / "out2.txt").find("torn"), std::string::npos);
  }
}

}  // namespace
}  // namespace tilvex::test
