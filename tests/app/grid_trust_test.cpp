// End-to-end: what a grid may trust about its record, and what it refuses.
// A grid killed at any system call resumes to the bytes of one clean run
// (files, table and record); two grids never share a record; the same grid
// is not appended twice by mistake; the table never replaces another file;
// names the program chooses are never followed through another user's
// symlinks.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/run.hpp"
#include "../support/trace.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kData = TILVEX_TEST_DATA;
const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";

// The files of a grid onto out.txt and out2.txt in `dir`, as bytes.
struct Left {
  std::string out, out2, table, record;
  bool operator==(const Left&) const = default;
};

long lines_in(const std::string& file) {
  const std::string text = slurp(file);
  return std::count(text.begin(), text.end(), '\n');
}

Left left_in(const ScratchDir& dir) {
  return {slurp(dir / "out.txt"), slurp(dir / "out2.txt"), slurp(dir / "table.tsv"),
          slurp(dir / "out.txt.tilvex-grid")};
}

std::vector<std::string> grid_args(const ScratchDir& dir, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                   "--jobs", "1", "--table", dir / "table.tsv", "--quiet"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// Four short points, one of them failing, one list line each.
void small_grid(const ScratchDir& dir) {
  const std::string w = kData + "/worked.vrin";
  spill(dir / "grid.txt", w + " 1 0 0 0\n" + w + " 2 0 0 0\n" + dir / "missing.vrin" + " 3 0 0 0\n" +
                              kData + "/none-accepted.vrin 4 0 0 0\n" + w + " 5 0 0 1\n");
}

void remove_grid_files(const ScratchDir& dir) {
  for (const auto& e : fs::directory_iterator(dir.path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("out", 0) == 0 || name.rfind(".out", 0) == 0 || name.rfind("table", 0) == 0)
      fs::remove(e.path());
  }
}

// A run that hangs (waiting for a FIFO it should never have opened) fails
// the test instead of stalling it.
Outcome grid_run(const ScratchDir& dir, const std::vector<std::string>& args,
                 std::vector<std::string> env = {}) {
  Outcome o;
  o.status = finish_within(start(TILVEX_GRID, args, dir / "grid.stdout",
                                 Launch{"/dev/null", -1, dir / "grid.stderr", std::move(env)}),
                           30);
  o.printed = slurp(dir / "grid.stdout");
  return o;
}

// Finishes a grid that was killed, as its user would: with --resume, or,
// where the grid died before its record named it, the command as it was.
int resume(const ScratchDir& dir, std::vector<std::string> env = {}) {
  const Outcome o = grid_run(dir, grid_args(dir, {"--resume"}), env);
  if (o.status == 2 && slurp(dir / "grid.stderr").find("no record of a grid to resume") != std::string::npos)
    return grid_run(dir, grid_args(dir), env).status;
  return o.status;
}

std::string describe(const Left& got, const Left& want) {
  return "out " + std::to_string(got.out.size()) + "/" + std::to_string(want.out.size()) +
         ", out2 " + std::to_string(got.out2.size()) + "/" + std::to_string(want.out2.size()) +
         ", table " + std::to_string(got.table.size()) + "/" + std::to_string(want.table.size()) +
         ", record " + std::to_string(got.record.size()) + "/" + std::to_string(want.record.size());
}

// Guards the resume that lost points: the record was read before the dead
// run's batch was rolled back, so that batch counted as done.
TEST(GridTrust, KilledAtEverySystemCallResumesToOneCleanRun) {
  ScratchDir dir;
  small_grid(dir);
  ASSERT_EQ(grid_run(dir, grid_args(dir)).status, 1);  // the missing input
  const Left clean = left_in(dir);
  ASSERT_NE(clean.record.find("\ncomplete\n"), std::string::npos);
  remove_grid_files(dir);
  const Traced whole = run_killed_at(TILVEX_GRID, grid_args(dir), dir / "stdout", dir / "stderr", -1);
  ASSERT_EQ(whole.status, 1);
  ASSERT_GT(whole.calls, 50);
  long kills = 0, resumed = 0, rolled_back = 0;
  for (long k = 0; k < whole.calls; ++k) {
    remove_grid_files(dir);
    const Traced t = run_killed_at(TILVEX_GRID, grid_args(dir), dir / "stdout", dir / "stderr", k);
    if (t.status != 128 + SIGKILL) continue;  // it ended before call k
    ++kills;
    EXPECT_EQ(resume(dir), 1) << "killed at call " << k << ": " << slurp(dir / "grid.stderr");
    if (slurp(dir / "grid.stderr").find("recovered from an append") != std::string::npos) ++rolled_back;
    const Left now = left_in(dir);
    EXPECT_TRUE(now == clean) << "killed at call " << k << ": " << describe(now, clean);
    resumed += now == clean;
  }
  std::cout << "grid killed at " << kills << " system calls: " << resumed
            << " resumed to the clean bytes, " << rolled_back << " after a roll-back\n";
  EXPECT_GT(kills, 50);
  EXPECT_GT(rolled_back, 0);
}

// The same fault, as a user met it: the grid killed at its second unlink
// (unlinkat), the commit of its first batch of points.
TEST(GridTrust, KilledAtItsSecondUnlinkResumesEveryPoint) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  ScratchDir dir;
  small_grid(dir);
  ASSERT_EQ(grid_run(dir, grid_args(dir)).status, 1);
  const Left clean = left_in(dir);
  remove_grid_files(dir);
  std::vector<std::string> args = {"-f", "-o", "/dev/null", "-e", "inject=unlinkat:signal=KILL:when=2",
                                   TILVEX_GRID};
  for (const std::string& a : grid_args(dir)) args.push_back(a);
  run("/usr/bin/strace", args, dir / "strace.stdout");
  ASSERT_TRUE(fs::exists(dir / ".out.txt.tilvex-journal"));  // killed before that commit
  EXPECT_EQ(resume(dir), 1) << slurp(dir / "grid.stderr");
  EXPECT_TRUE(left_in(dir) == clean) << describe(left_in(dir), clean);
}

// Gives the FIFO its input, for the grid that waits for it.
void feed(const std::string& fifo) {
  ASSERT_TRUE(feed_fifo(fifo, slurp(kData + "/worked.vrin"))) << "no grid read " << fifo;
}

// Waits until the record holds `rows` rows under its header (a point's
// warnings, lines that begin with a tab, are not rows).
bool recorded(const ScratchDir& dir, std::size_t rows) {
  for (int i = 0; i < 5000; ++i) {
    const std::string record = slurp(dir / "out.txt.tilvex-grid");
    std::size_t lines = 0;
    for (std::size_t at = 0; at < record.size(); at = record.find('\n', at) + 1) {
      if (record.find('\n', at) == std::string::npos) break;
      lines += record[at] != '\t';
    }
    if (lines >= rows + 1) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// Guards two grids onto one output_file: the second truncated the first
// one's live record.
TEST(GridTrust, ASecondGridOntoTheSameOutputIsRefused) {
  ScratchDir dir;
  const std::string w = kData + "/worked.vrin";
  ASSERT_EQ(mkfifo((dir / "fifo.vrin").c_str(), 0600), 0);
  spill(dir / "grid.txt", w + " 1 0 0 0\n" + w + " 2 0 0 0\n" + dir / "fifo.vrin" + " 3 0 0 0\n" + w +
                              " 4 0 0 0\n");
  spill(dir / "other.txt", w + " 7 0 0 0\n");
  // One clean run to compare with.
  pid_t clean = start(TILVEX_GRID, {dir / "grid.txt", dir / "c.txt", "95", dir / "c2.txt"}, dir / "c.stdout");
  feed(dir / "fifo.vrin");
  ASSERT_EQ(finish(clean), 0);

  const std::vector<std::string> first = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                          "--jobs", "1"};
  const pid_t pid = start(TILVEX_GRID, first, dir / "first.stdout");
  ASSERT_TRUE(recorded(dir, 2));  // waits for the FIFO now
  const Left before = left_in(dir);
  struct Case {
    const char* what;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"the same grid", first},
      {"the same grid, resumed", {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--resume"}},
      {"the same grid, again", {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--again"}},
      {"another grid", {dir / "other.txt", dir / "out.txt", "90", dir / "elsewhere.txt"}},
  };
  for (const Case& c : cases) {
    const Outcome o = grid_run(dir, c.args);
    EXPECT_EQ(o.status, 2) << c.what;
    EXPECT_EQ(o.printed, "") << c.what;
    EXPECT_EQ(slurp(dir / "grid.stderr"), "tilvex-grid: '" + dir / "out.txt" +
                                              "' is being written by another grid (pid " +
                                              std::to_string(pid) + ")\n")
        << c.what;
    EXPECT_TRUE(left_in(dir) == before) << c.what;
  }
  // Killed outright, its record outlives another grid's attempt, and
  // --resume finishes it.
  kill(pid, SIGKILL);
  EXPECT_EQ(finish(pid), 128 + SIGKILL);
  EXPECT_EQ(grid_run(dir, cases[3].args).status, 2);
  EXPECT_NE(slurp(dir / "grid.stderr").find("--again"), std::string::npos);
  EXPECT_TRUE(left_in(dir) == before);
  std::vector<std::string> again = first;
  again.push_back("--resume");
  const pid_t resumed = start(TILVEX_GRID, again, dir / "resume.stdout");
  feed(dir / "fifo.vrin");
  EXPECT_EQ(finish(resumed), 0);
  EXPECT_EQ(slurp(dir / "out.txt"), slurp(dir / "c.txt"));
  EXPECT_EQ(slurp(dir / "out2.txt"), slurp(dir / "c2.txt"));
  EXPECT_EQ(slurp(dir / "out.txt.tilvex-grid"), slurp(dir / "c.txt.tilvex-grid"));
}

// Guards reruns that appended a grid a second time: after it completed,
// and after a stop (the rerun "started over").
TEST(GridTrust, ARerunAppendsNothingUnlessAskedTo) {
  ScratchDir dir;
  std::string list;
  for (int i = 0; i < 12; ++i) list += kRealistic + " " + std::to_string(i) + " 0 0 0\n";
  spill(dir / "grid.txt", list);
  spill(dir / "other.txt", kRealistic + " 99 0 0 0\n");
  ASSERT_EQ(grid_run(dir, grid_args(dir)).status, 0);
  const Left clean = left_in(dir);
  const std::regex complete("tilvex-grid: '" + dir / "out.txt" +
                            "' is already complete: 12 points appended on "
                            "20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z; "
                            "--again appends them a second time\n");
  const std::string another = "tilvex-grid: '" + dir / "out.txt" + "' holds another grid (its record '" +
                              dir / "out.txt.tilvex-grid" +
                              "' names other points, confidence level or part); --again appends "
                              "this grid after it, with a record of its own\n";

  // Complete: the same command, at another confidence level, another list.
  Outcome o = grid_run(dir, grid_args(dir));
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(std::regex_match(slurp(dir / "grid.stderr"), complete)) << slurp(dir / "grid.stderr");
  {  // the date is the record's last change, in UTC, to the second
    struct stat st {};
    ASSERT_EQ(stat((dir / "out.txt.tilvex-grid").c_str(), &st), 0);
    std::tm utc{};
    gmtime_r(&st.st_mtime, &utc);
    char date[32];
    std::strftime(date, sizeof date, " on %Y-%m-%dT%H:%M:%SZ;", &utc);
    EXPECT_NE(slurp(dir / "grid.stderr").find(date), std::string::npos) << date;
  }
  std::vector<std::string> at90 = grid_args(dir);
  at90[2] = "90";
  o = grid_run(dir, at90);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(slurp(dir / "grid.stderr"), another);
  EXPECT_TRUE(left_in(dir) == clean);

  // --again: a second copy, and a fresh record of it.
  EXPECT_EQ(grid_run(dir, grid_args(dir, {"--again"})).status, 0);
  EXPECT_EQ(slurp(dir / "out.txt"), clean.out + clean.out);
  EXPECT_TRUE(slurp(dir / "out2.txt") == clean.out2 + clean.out2);
  EXPECT_EQ(slurp(dir / "out.txt.tilvex-grid"), clean.record);
  EXPECT_EQ(slurp(dir / "table.tsv"), clean.table);

  // Unfinished: a file size limit lets some points in (each point's
  // accepted lines are some 151 kB; a batch that does not fit goes in
  // point by point, so the 4 that fit get in, however the points were
  // batched).
  remove_grid_files(dir);
  o = run(TILVEX_GRID, grid_args(dir), dir / "grid.stdout",
          Launch{"/dev/null", 4 * 151000 + 75000, dir / "grid.stderr"});
  ASSERT_EQ(o.status, 252);
  const Left stopped = left_in(dir);
  const auto done = std::count(stopped.record.begin(), stopped.record.end(), '\n') - 1;  // less the header
  ASSERT_EQ(done, 4);
  EXPECT_NE(slurp(dir / "grid.stderr").find("tilvex-grid: stopped with 4 of 12 points appended\n"), std::string::npos)
      << slurp(dir / "grid.stderr");
  const std::string unfinished = "tilvex-grid: '" + dir / "out.txt" + "' holds an unfinished grid, " +
                                 std::to_string(done) +
                                 " of 12 points done; --resume appends the rest, --again appends every "
                                 "point anew\n";
  o = grid_run(dir, grid_args(dir));
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(slurp(dir / "grid.stderr"), unfinished);
  o = grid_run(dir, {dir / "other.txt", dir / "out.txt", "95", dir / "out2.txt"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(slurp(dir / "grid.stderr"), another);
  EXPECT_TRUE(left_in(dir) == stopped);
  // --resume finishes it to the bytes of one clean run.
  EXPECT_EQ(grid_run(dir, grid_args(dir, {"--resume"})).status, 0);
  EXPECT_TRUE(left_in(dir) == clean);

  // Another grid after this one, on purpose.
  EXPECT_EQ(grid_run(dir, {dir / "other.txt", dir / "out.txt", "95", dir / "out2.txt", "--again"}).status, 0);
  EXPECT_EQ(slurp(dir / "out.txt").substr(0, clean.out.size()), clean.out);
  EXPECT_EQ(lines_in(dir / "out.txt"), 13);
}

// Guards --table onto a file of the grid: it was replaced by the table.
TEST(GridTrust, ATableThatWouldReplaceAnotherFileIsRefused) {
  ScratchDir dir;
  small_grid(dir);
  spill(dir / "input.vrin", slurp(kData + "/worked.vrin"));
  spill(dir / "grid.txt", slurp(dir / "grid.txt") + dir / "input.vrin 6 0 0 0\n");
  spill(dir / "out.txt", "an earlier summary\n");
  spill(dir / "out2.txt", "an earlier line\n");
  spill(dir / "notes.txt", "x\ty\n");
  spill(dir / "out.txt.tilvex-grid", "");
  fs::create_symlink(dir / "out2.txt", dir / "link-to-out2");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  struct Case {
    std::string table, is;
  };
  const Case cases[] = {
      {dir / "grid.txt", "the grid list"},
      {dir / "input.vrin", "the input of line 6 of the list"},
      {dir / "out.txt", "output_file"},
      {dir / "out2.txt", "output_file2"},
      {dir / "link-to-out2", "output_file2"},
      {dir / "out.txt.tilvex-grid", "the grid's record"},
      {dir / "notes.txt", "a file that is not a table of tilvex-grid's; it is left as it is"},
      // (A FIFO of the test's own, not /dev/null: a build that lost this
      // check would rename its table over the system's /dev/null.)
      {dir / "pipe", "a file that is not a table of tilvex-grid's; it is left as it is"},
  };
  const auto bytes = [&] {
    std::string all;
    for (const char* f : {"grid.txt", "input.vrin", "out.txt", "out2.txt", "notes.txt", "out.txt.tilvex-grid"})
      all += slurp(dir / f) + "\n--\n";
    return all;
  };
  const std::string before = bytes();
  for (const Case& c : cases) {
    const Outcome o = grid_run(dir, {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                     "--table", c.table});
    EXPECT_EQ(o.status, 2) << c.table;
    const std::string tail = c.is.find("left as it is") != std::string::npos ? "\n" : "; nothing written\n";
    EXPECT_EQ(slurp(dir / "grid.stderr"), "tilvex-grid: --table '" + c.table + "' is " + c.is + tail);
    EXPECT_EQ(bytes(), before) << c.table;
  }
  // Files that do not exist yet, by name.
  fs::remove(dir / "out.txt.tilvex-grid");
  const Outcome o = grid_run(dir, {dir / "grid.txt", dir / "new.txt", "95", dir / "new2.txt", "--table",
                                   dir.path().string() + "/sub/../new.txt"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(slurp(dir / "grid.stderr"), "tilvex-grid: --table '" + dir.path().string() +
                                            "/sub/../new.txt' is output_file; nothing written\n");
  EXPECT_FALSE(fs::exists(dir / "new.txt"));
  EXPECT_FALSE(fs::exists(dir / "new.txt.tilvex-grid"));

  // Tables are replaced: one with its header, a later part's (no header),
  // an empty file; a table of an older version, its rows of 31 or 30
  // columns under its header, and a part's whose first point is named
  // "input" (each was refused as not a table of tilvex-grid's).
  const std::vector<std::string> args = {dir / "grid.txt", dir / "t.txt", "95", dir / "t2.txt",
                                         "--table", dir / "t.tsv", "--again"};
  ASSERT_EQ(grid_run(dir, args).status, 1);
  const std::string table = slurp(dir / "t.tsv");
  const std::string part_table = table.substr(table.find('\n') + 1);
  const auto narrowed = [&](bool notes) {  // each line's first 30 columns, then its notes
    std::string out;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
      std::size_t cut = 0;
      for (int k = 0; k < 30; ++k) cut = line.find('\t', cut) + 1;
      out += line.substr(0, cut - 1) + (notes ? line.substr(line.rfind('\t')) : "") + "\n";
    }
    return out;
  };
  ASSERT_EQ(narrowed(true).find("\tpl3_high\tnotes\n"), narrowed(true).find('\n') - 15);
  for (const std::string& old : {table, part_table, std::string(), narrowed(true), narrowed(false),
                                 "input" + part_table.substr(part_table.find('\t'))}) {
    spill(dir / "t.tsv", old);
    EXPECT_EQ(grid_run(dir, args).status, 1) << slurp(dir / "grid.stderr");
    EXPECT_EQ(slurp(dir / "t.tsv"), table);
  }
}

// Settings that do not read are refused before any file is touched, and
// an output that is not a regular file keeps no record.
TEST(GridTrust, BadSettingsAndOutputsWithoutARecord) {
  ScratchDir dir;
  small_grid(dir);
  struct Case {
    std::string setting, reason;
  };
  const Case cases[] = {
      {"TILVEX_LOCK_TIMEOUT=soon", "TILVEX_LOCK_TIMEOUT 'soon' is not a number of seconds (0 or more, such as 30 or 0.5)"},
      {"TILVEX_LOCK_NOTICE=-1", "TILVEX_LOCK_NOTICE '-1' is not a number of seconds (0 or more, such as 30 or 0.5)"},
      {"TILVEX_SYNC=yes", "TILVEX_SYNC 'yes' is neither 0 nor 1"},
  };
  for (const Case& c : cases) {
    for (const std::vector<std::string>& args :
         {grid_args(dir), std::vector<std::string>{"--recover", dir / "grid.txt"}}) {
      const Outcome o = grid_run(dir, args, {c.setting});
      EXPECT_EQ(o.status, 2) << c.setting;
      EXPECT_EQ(slurp(dir / "grid.stderr"), "tilvex-grid: " + c.reason + "\n");
      EXPECT_FALSE(fs::exists(dir / "out.txt")) << c.setting;
      EXPECT_FALSE(fs::exists(dir / "out.txt.tilvex-grid")) << c.setting;
      EXPECT_FALSE(fs::exists(dir / "table.tsv")) << c.setting;
    }
  }

  const std::string no_record = "tilvex-grid: '/dev/null' is not a regular file: this grid keeps no "
                                "record and cannot be resumed\n";
  // (A record a faulty build left there would hide what this one does.)
  fs::remove("/dev/null.tilvex-grid");
  Outcome o = grid_run(dir, {dir / "grid.txt", "/dev/null", "95", dir / "out2.txt", "--table", dir / "table.tsv"});
  EXPECT_EQ(o.status, 1);
  const std::string err = slurp(dir / "grid.stderr");
  EXPECT_EQ(err.substr(0, no_record.size()), no_record);
  EXPECT_EQ(err.find(no_record, 1), std::string::npos);  // once
  EXPECT_FALSE(fs::exists("/dev/null.tilvex-grid"));
  EXPECT_EQ(lines_in(dir / "table.tsv"), 6);
  o = grid_run(dir, {dir / "grid.txt", "/dev/null", "95", dir / "out2.txt", "--resume"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(slurp(dir / "grid.stderr"), "tilvex-grid: '/dev/null' is not a regular file: no record is "
                                        "kept beside it, so there is no grid to resume\n");
}

// With TILVEX_SYNC=1 the table is on disk before it takes the table's
// name, and that name after: the new file is synced before the rename,
// the folder after (seen in the grid's system calls).
TEST(GridTrust, ASyncedTableIsSyncedAroundItsRename) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  ScratchDir dir;
  small_grid(dir);
  std::vector<std::string> args = {"-f", "-o", dir / "calls", "-e", "trace=openat,fsync,rename",
                                   TILVEX_GRID};
  for (const std::string& a : grid_args(dir)) args.push_back(a);
  ASSERT_EQ(run("/usr/bin/strace", args, dir / "strace.stdout",
                Launch{"/dev/null", -1, dir / "strace.stderr", {"TILVEX_SYNC=1", "ASAN_OPTIONS=detect_leaks=0"}})
                .status,
            1);
  std::vector<std::string> calls;  // without the pid
  std::istringstream log(slurp(dir / "calls"));
  for (std::string line; std::getline(log, line);)  // strace pads the pid to 5 places
    calls.push_back(line.substr(line.find_first_not_of(' ', line.find(' '))));
  const std::regex opened("openat\\(AT_FDCWD, \"" + dir / "table.tsv" +
                          "\\.[0-9a-f]{12}\\.partial\", O_WRONLY\\|O_CREAT\\|O_EXCL\\|O_NOFOLLOW.* = ([0-9]+)");
  const std::regex renamed("rename\\(\"" + dir / "table.tsv" + "\\.[0-9a-f]{12}\\.partial\", \"" +
                           dir / "table.tsv" + "\"\\) = 0");
  const std::regex folder("openat\\(AT_FDCWD, \"" + dir.path().string() +
                          "\", O_RDONLY\\|O_CLOEXEC\\|O_DIRECTORY\\) = ([0-9]+)");
  std::size_t at = 0;
  std::smatch m;
  while (at < calls.size() && !std::regex_match(calls[at], m, opened)) ++at;
  ASSERT_LT(at, calls.size()) << "the table's new file was not opened";
  const std::string synced = "fsync(" + m[1].str() + ")";
  bool before = false;
  for (++at; at < calls.size() && !std::regex_match(calls[at], renamed); ++at)
    before = before || calls[at].rfind(synced, 0) == 0;
  ASSERT_LT(at, calls.size()) << "the table was not renamed into place";
  EXPECT_TRUE(before) << "the table's file was not synced before its rename";
  ASSERT_LT(at + 2, calls.size());
  ASSERT_TRUE(std::regex_match(calls[at + 1], m, folder)) << calls[at + 1];
  EXPECT_EQ(calls[at + 2].rfind("fsync(" + m[1].str() + ")", 0), 0u) << calls[at + 2];
  EXPECT_EQ(lines_in(dir / "table.tsv"), 6);
}

// Guards a grid killed between its record header's append and its commit:
// --recover left that header in the record.
TEST(GridTrust, RecoverRollsBackTheRecordToo) {
  ScratchDir dir;
  small_grid(dir);
  const std::string journal = dir / ".out.txt.tilvex-grid.tilvex-journal";
  for (long k = 0;; ++k) {
    remove_grid_files(dir);
    const Traced t = run_killed_at(TILVEX_GRID, grid_args(dir), dir / "stdout", dir / "stderr", k);
    ASSERT_EQ(t.status, 128 + SIGKILL) << "never caught with the header written, uncommitted";
    if (fs::exists(journal) && !slurp(dir / "out.txt.tilvex-grid").empty() &&
        slurp(dir / "out.txt").empty())
      break;
  }
  const Outcome o = run(TILVEX_GRID, {"--recover", dir / "out.txt", dir / "out2.txt"}, dir / "stdout",
                        Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 0) << slurp(dir / "stderr");
  EXPECT_EQ(slurp(dir / "out.txt.tilvex-grid"), "");
  EXPECT_FALSE(fs::exists(journal));
}

// As the attacker: another user plants symlinks at the names tilvex-grid
// chooses (the record, the table's old partial name) and a record of its
// own, in a folder open to all; root's grid follows none and reads none.
TEST(GridTrust, PlantedNamesAreNeverFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the attacker as another user";
  ScratchDir shared, secret;
  chmod(shared.path().c_str(), 01777);
  const std::string target = secret / "root-only";
  spill(target, "root's own bytes\n");
  chmod(target.c_str(), 0600);
  const std::string w = kData + "/worked.vrin";
  spill(secret / "grid.txt", w + " 1 0 0 0\n" + w + " 2 0 0 0\n");
  const auto as_nobody = [&](const std::string& command) {
    return run("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "/bin/sh", "-c",
                                    command},
               secret / "nobody.stdout")
        .status;
  };
  const std::vector<std::string> args = {secret / "grid.txt", shared / "sum.txt", "95", shared / "acc.txt",
                                         "--table", shared / "grid.tsv"};
  const auto grid_of_root = [&] {
    return run(TILVEX_GRID, args, secret / "stdout", Launch{"/dev/null", -1, secret / "stderr"}).status;
  };

  // A symlink at the record's name.
  ASSERT_EQ(as_nobody("ln -s '" + target + "' '" + shared / "sum.txt.tilvex-grid" + "'"), 0);
  EXPECT_EQ(grid_of_root(), 2);
  EXPECT_EQ(slurp(secret / "stderr"), "tilvex-grid: '" + shared / "sum.txt.tilvex-grid" +
                                          "' is a symbolic link; a grid's record is never followed, "
                                          "so it is left alone\n");
  EXPECT_EQ(slurp(target), "root's own bytes\n");
  EXPECT_EQ(slurp(shared / "sum.txt"), "");
  EXPECT_TRUE(fs::is_symlink(shared / "sum.txt.tilvex-grid"));

  // A record of nobody's, as a regular file, that says both points are in.
  fs::remove(shared / "sum.txt.tilvex-grid");
  ASSERT_EQ(grid_of_root(), 0);
  const std::string record = slurp(shared / "sum.txt.tilvex-grid");
  const std::string forged = record.substr(0, record.size() - 9);
  fs::remove(shared / "sum.txt.tilvex-grid");
  fs::remove(shared / "sum.txt");
  fs::remove(shared / "acc.txt");
  spill(secret / "forged", forged);
  chmod(secret.path().c_str(), 0755);
  chmod((secret / "forged").c_str(), 0644);
  ASSERT_EQ(as_nobody("cat '" + secret / "forged" + "' > '" + shared / "sum.txt.tilvex-grid" + "'"), 0);
  const Outcome resumed = run(TILVEX_GRID, [&] {
    auto a = args;
    a.push_back("--resume");
    return a;
  }(), secret / "stdout", Launch{"/dev/null", -1, secret / "stderr"});
  EXPECT_EQ(resumed.status, 2);
  const passwd* nobody = getpwnam("nobody");
  ASSERT_TRUE(nobody);
  EXPECT_EQ(slurp(secret / "stderr"), "tilvex-grid: '" + shared / "sum.txt.tilvex-grid" + "' belongs to user " +
                                          std::to_string(nobody->pw_uid) + ", not to the owner of '" +
                                          shared / "sum.txt" + "' (user 0); it is left alone\n");
  EXPECT_EQ(slurp(shared / "sum.txt.tilvex-grid"), forged);
  EXPECT_EQ(slurp(shared / "sum.txt"), "");
  ASSERT_EQ(as_nobody("rm '" + shared / "sum.txt.tilvex-grid" + "'"), 0);

  // A symlink at the table's old partial name: the table is written
  // beside it, under a name of its own.
  ASSERT_EQ(as_nobody("ln -s '" + target + "' '" + shared / "grid.tsv.partial" + "'"), 0);
  EXPECT_EQ(grid_of_root(), 0) << slurp(secret / "stderr");
  EXPECT_EQ(slurp(target), "root's own bytes\n");
  EXPECT_TRUE(fs::is_symlink(shared / "grid.tsv.partial"));
  EXPECT_EQ(lines_in(shared / "grid.tsv"), 3);
}

// A grid stopped after its first point is an unfinished grid like any
// other: a rerun without --resume or --again is refused with the count,
// and --resume finishes it to the bytes of one clean run.
TEST(GridTrust, AGridStoppedAfterOnePointIsNotBegunAnew) {
  ScratchDir dir;
  const std::string w = kData + "/worked.vrin";
  ASSERT_EQ(mkfifo((dir / "fifo.vrin").c_str(), 0600), 0);
  spill(dir / "grid.txt", w + " 1 0 0 0\n" + dir / "fifo.vrin" + " 2 0 0 0\n");
  const pid_t clean = start(TILVEX_GRID, {dir / "grid.txt", dir / "c.txt", "95", dir / "c2.txt"}, dir / "c.stdout");
  feed(dir / "fifo.vrin");
  ASSERT_EQ(finish(clean), 0);

  const std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--jobs", "1"};
  const pid_t pid = start(TILVEX_GRID, args, dir / "first.stdout", Launch{"/dev/null", -1, dir / "first.stderr"});
  ASSERT_TRUE(recorded(dir, 1));  // waits for the FIFO now
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(pid), 128 + SIGTERM);
  const Left stopped = left_in(dir);
  EXPECT_EQ(stopped.out, slurp(dir / "c.txt").substr(0, stopped.out.size()));
  EXPECT_EQ(lines_in(dir / "out.txt"), 1);

  Outcome o = grid_run(dir, args);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(slurp(dir / "grid.stderr"), "tilvex-grid: '" + dir / "out.txt" +
                                            "' holds an unfinished grid, 1 of 2 points done; --resume appends "
                                            "the rest, --again appends every point anew\n");
  EXPECT_TRUE(left_in(dir) == stopped);

  std::vector<std::string> resume = args;
  resume.push_back("--resume");
  const pid_t resumed = start(TILVEX_GRID, resume, dir / "grid.stdout");
  feed(dir / "fifo.vrin");
  EXPECT_EQ(finish(resumed), 0);
  EXPECT_EQ(slurp(dir / "out.txt"), slurp(dir / "c.txt"));
  EXPECT_EQ(slurp(dir / "out2.txt"), slurp(dir / "c2.txt"));
}

// A FIFO at the record's name is neither read nor written (a grid would
// wait on it, or take it for an empty record): the grid stops before
// appending anything.
TEST(GridTrust, AFifoAtTheRecordsNameStopsTheGrid) {
  ScratchDir dir;
  spill(dir / "grid.txt", kData + "/worked.vrin 1 0 0 0\n");
  ASSERT_EQ(mkfifo((dir / "out.txt.tilvex-grid").c_str(), 0600), 0);
  for (const char* how : {"", "--resume"}) {
    std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt"};
    if (*how != '\0') args.push_back(how);
    const Outcome o = grid_run(dir, args);
    EXPECT_EQ(o.status, 2) << how;
    EXPECT_EQ(o.printed, "") << how;
    EXPECT_NE(slurp(dir / "grid.stderr").find("'" + dir / "out.txt.tilvex-grid" + "'"), std::string::npos)
        << slurp(dir / "grid.stderr");
    EXPECT_EQ(slurp(dir / "out.txt"), "") << how;
    EXPECT_EQ(slurp(dir / "out2.txt"), "") << how;
  }
}

// What the grid says of its points: an input that is output_file2 is
// refused naming output_file2 as it happens; at the end, each point's
// warnings with its list line, then the account.
TEST(GridTrust, WhatTheGridSaysOfItsPoints) {
  ScratchDir dir;
  const std::string unparsed = kData + "/unparsed-fields.vrin";
  spill(dir / "out2.txt", "1 2 3\n");
  spill(dir / "grid.txt", dir / "out2.txt" + " 1 0 0 0\n" + unparsed + " 2 0 0 0\n" + unparsed + " 3 0 0 0\n");
  const Outcome o = grid_run(dir, {dir / "grid.txt", dir / "out.txt", "75", dir / "out2.txt"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.printed, "unable to open " + dir / "out2.txt" + "\n");
  const std::string fields = "'" + unparsed + "': 2 records: its lines do not hold 6, then 7 numbers, the first at "
                             "line 5; a number missing kept the value before it, and one past the sixth or seventh "
                             "was not read\n";
  const std::string unread = "9 fields of '" + unparsed + "' did not read as numbers and kept the values before "
                             "them; the first is field 2 of line 5\n";
  EXPECT_EQ(slurp(dir / "grid.stderr"),
            "tilvex-grid: line 1: '" + dir / "out2.txt" + "' is the input file; the results go to other files\n"
            "tilvex-grid: line 2: warning: " + fields + "tilvex-grid: line 2: warning: " + unread +
            "tilvex-grid: line 3: warning: " + fields + "tilvex-grid: line 3: warning: " + unread +
            "tilvex-grid: 3 points: 0 ok, 2 with warnings, 1 failed\n");
}

// The list line and input named by each warning line at the end of a
// grid's standard error, in order ("line 2 'a.vrin'"), and its last line.
std::vector<std::string> warned_points(const std::string& err, std::string& last) {
  std::vector<std::string> found;
  std::istringstream in(err);
  const std::regex warning("tilvex-grid: line ([0-9]+): warning: (?:[0-9]+ fields? of )?('[^']*')[: ].*");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, warning)) found.push_back("line " + m[1].str() + " " + m[2].str());
    last = line;
  }
  return found;
}

// Each row's point and notes column: "2 fields;unread".
std::vector<std::string> notes_column(const std::string& table) {
  std::vector<std::string> out;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("input\t", 0) == 0) continue;
    std::vector<std::string> c;
    std::istringstream row(line);
    for (std::string col; std::getline(row, col, '\t');) c.push_back(col);
    if (!line.empty() && line.back() == '\t') c.emplace_back();
    out.push_back(c.size() == 39 ? c[1] + " " + c[38] : "row of " + std::to_string(c.size()) + " columns");
  }
  return out;
}

// Broken inputs of every kind are each named with their list line, in
// list order, at the end of the grid; the table's notes column pairs each
// code with its point; the account adds up. A grid stopped after two
// points and resumed prints the whole account, the warnings recorded by
// the first run too, and leaves the table of one clean run; a record of an
// older tilvex-grid (rows of fewer columns) is not resumed.
TEST(GridTrust, EveryPointsHealthIsNamedInListOrder) {
  ScratchDir dir;
  const std::string w = slurp(kData + "/worked.vrin");
  spill(dir / "swapped.vrin", "1 0 0 0 0 -1\n0.5 10 20 120 5 240 78\n0.45 12 22 125 3 250 80\n1 0.1 0 0 0 -1\n" +
                                  w.substr(0, w.find('\n', w.find('\n') + 1) + 1));
  spill(dir / "cut.vrin", w + "1 0 0 0 0 -1\n");
  const std::string d = kData + "/";
  spill(dir / "grid.txt", d + "worked.vrin 1 0 0 0\n" + d + "first-record-short.vrin 2 0 0 0\n" +
                              "# a comment line\n" + d + "missing-solution.vrin 3 0 0 0\n" + dir / "none.vrin" +
                              " 4 0 0 0\n" + d + "unparsed-fields.vrin 5 0 0 0\n" + dir / "swapped.vrin" +
                              " 6 0 0 0\n" + dir / "cut.vrin 7 0 0 0\n");
  Outcome o = grid_run(dir, {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--jobs", "2", "--table",
                             dir / "table.tsv"});
  EXPECT_EQ(o.status, 1);
  std::string last;
  const std::vector<std::string> named = warned_points(slurp(dir / "grid.stderr"), last);
  const std::vector<std::string> expected_named = {
      "line 2 '" + d + "first-record-short.vrin'", "line 2 '" + d + "first-record-short.vrin'",
      "line 4 '" + d + "missing-solution.vrin'",   "line 4 '" + d + "missing-solution.vrin'",
      "line 6 '" + d + "unparsed-fields.vrin'",    "line 6 '" + d + "unparsed-fields.vrin'",
      "line 7 '" + dir / "swapped.vrin'",          "line 7 '" + dir / "swapped.vrin'",
      "line 8 '" + dir / "cut.vrin'",              "line 8 '" + dir / "cut.vrin'"};
  EXPECT_EQ(named, expected_named) << slurp(dir / "grid.stderr");
  EXPECT_EQ(last, "tilvex-grid: 7 points: 1 ok, 5 with warnings, 1 failed");
  const std::vector<std::string> expected_notes = {"1 ",         "2 fields;unread", "3 cut;unread", "4 ",
                                                   "5 fields;unread", "6 swapped;unread", "7 cut;unread"};
  EXPECT_EQ(notes_column(slurp(dir / "table.tsv")), expected_notes);

  // Stopped while it waits for its third point's input, then resumed.
  ASSERT_EQ(mkfifo((dir / "fifo.vrin").c_str(), 0600), 0);
  spill(dir / "grid.txt", d + "worked.vrin 1 0 0 0\n" + d + "first-record-short.vrin 2 0 0 0\n" + dir / "fifo.vrin" +
                              " 3 0 0 0\n" + d + "unparsed-fields.vrin 4 0 0 0\n");
  const std::vector<std::string> clean_args = {dir / "grid.txt", dir / "c.txt", "95", dir / "c2.txt", "--table",
                                               dir / "clean.tsv"};
  const pid_t clean = start(TILVEX_GRID, clean_args, dir / "c.stdout", Launch{"/dev/null", -1, dir / "c.stderr"});
  feed(dir / "fifo.vrin");
  ASSERT_EQ(finish(clean), 0);
  const std::string clean_err = slurp(dir / "c.stderr");
  EXPECT_EQ(warned_points(clean_err, last).size(), 4u) << clean_err;
  EXPECT_EQ(last, "tilvex-grid: 4 points: 2 ok, 2 with warnings, 0 failed");

  for (const char* f : {"out.txt", "out2.txt", "out.txt.tilvex-grid", "table.tsv"}) fs::remove(dir / f);
  std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                   "--jobs", "1", "--table", dir / "table.tsv"};
  pid_t pid = start(TILVEX_GRID, args, dir / "first.stdout", Launch{"/dev/null", -1, dir / "first.stderr"});
  ASSERT_TRUE(recorded(dir, 2));  // waits for the FIFO now
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(pid), 128 + SIGTERM);
  EXPECT_EQ(slurp(dir / "first.stderr").find("warning"), std::string::npos) << slurp(dir / "first.stderr");
  const std::string stopped_record = slurp(dir / "out.txt.tilvex-grid");

  args.push_back("--resume");
  pid = start(TILVEX_GRID, args, dir / "grid.stdout", Launch{"/dev/null", -1, dir / "grid.stderr"});
  feed(dir / "fifo.vrin");
  EXPECT_EQ(finish(pid), 0);
  EXPECT_EQ(slurp(dir / "grid.stderr"), clean_err);  // line 2's warnings were recorded by the stopped run
  EXPECT_EQ(slurp(dir / "table.tsv"), slurp(dir / "clean.tsv"));

  // The same stopped record as an older tilvex-grid left it.
  std::string older;
  std::istringstream in(stopped_record);
  for (std::string line; std::getline(in, line);) {
    if (line[0] == '\t') continue;
    if (line.rfind("tilvex-grid", 0) != 0) line.erase(line.rfind('\t'));  // the notes column
    older += line + "\n";
  }
  ASSERT_NE(older, stopped_record);
  spill(dir / "out.txt.tilvex-grid", older);
  const std::string out_before = slurp(dir / "out.txt");
  o = grid_run(dir, args);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(slurp(dir / "grid.stderr"),
            "tilvex-grid: " + dir / "out.txt.tilvex-grid" +
                ": its rows were recorded by an older tilvex-grid, with fewer columns; nothing appended "
                "(finish the grid with that tilvex-grid, or append it anew with --again)\n");
  EXPECT_EQ(slurp(dir / "out.txt"), out_before);
}

// A grid stopped by a signal prints the command that finishes it: the
// same words, each quoted where the shell needs it (a blank and a quote
// in one; an empty word is refused before, see command_line_test.cpp),
// without --again (that would begin yet another copy) and with --resume.
TEST(GridTrust, AStoppedGridPrintsTheCommandThatFinishesIt) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo.vrin").c_str(), 0600), 0);
  spill(dir / "grid.txt", kData + "/worked.vrin 1 0 0 0\n" + dir / "fifo.vrin" + " 2 0 0 0\n");
  const pid_t pid = start(TILVEX_GRID, {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--again",
                                        "--jobs", "1", "--table", dir / "it's a table.tsv"},
                          dir / "grid.stdout", Launch{"/dev/null", -1, dir / "grid.stderr"});
  ASSERT_TRUE(recorded(dir, 1));
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(pid), 128 + SIGTERM);
  const std::string err = slurp(dir / "grid.stderr");
  EXPECT_NE(err.find("tilvex-grid: to finish the grid: " + std::string(TILVEX_GRID) + " " + dir / "grid.txt" + " " +
                     dir / "out.txt" + " 95 " + dir / "out2.txt" + " --jobs 1 --table '" + dir / "it'\\''s a table.tsv" +
                     "' --resume\n"),
            std::string::npos)
      << err;
}

// A table that cannot be written at the end leaves the grid unfinished:
// its record does not say complete, and --resume writes the table.
TEST(GridTrust, ATableThatCannotBeWrittenLeavesTheGridUnfinished) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo.vrin").c_str(), 0600), 0);
  spill(dir / "grid.txt", kData + "/worked.vrin 1 0 0 0\n" + dir / "fifo.vrin" + " 2 0 0 0\n");
  fs::create_directory(dir / "sub");
  const std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                         "--jobs", "1", "--table", dir / "sub/table.tsv"};
  const pid_t pid = start(TILVEX_GRID, args, dir / "grid.stdout", Launch{"/dev/null", -1, dir / "grid.stderr"});
  ASSERT_TRUE(recorded(dir, 1));
  fs::remove(dir / "sub");  // the table's folder is gone by the end
  feed(dir / "fifo.vrin");
  EXPECT_EQ(finish(pid), 213);
  EXPECT_EQ(slurp(dir / "grid.stdout"), "unable to write " + dir / "sub/table.tsv" + "\n");
  const std::string record = slurp(dir / "out.txt.tilvex-grid");
  EXPECT_EQ(record.find("complete"), std::string::npos) << record;
  EXPECT_EQ(lines_in(dir / "out.txt"), 2);

  fs::create_directory(dir / "sub");
  std::vector<std::string> resume = args;
  resume.push_back("--resume");
  EXPECT_EQ(grid_run(dir, resume).status, 0) << slurp(dir / "grid.stderr");
  EXPECT_EQ(lines_in(dir / "sub/table.tsv"), 3);
  EXPECT_EQ(lines_in(dir / "out.txt"), 2);
  EXPECT_NE(slurp(dir / "out.txt.tilvex-grid").find("\ncomplete\n"), std::string::npos);
}

// Root's grid on a user's files (an administrator finishing a user's
// grid): the record that user's grid keeps, of output_file's owner, is
// taken and stays theirs.
TEST(GridTrust, RootGoesOnWithAUsersRecord) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run a grid as another user";
  ScratchDir shared;
  chmod(shared.path().c_str(), 01777);
  const std::string w = kData + "/worked.vrin";
  spill(shared / "grid.txt", w + " 1 0 0 0\n" + w + " 2 0 0 0\n");
  chmod((shared / "grid.txt").c_str(), 0644);
  const std::vector<std::string> args = {shared / "grid.txt", shared / "sum.txt", "95", shared / "acc.txt"};
  std::vector<std::string> as_nobody = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", TILVEX_GRID};
  as_nobody.insert(as_nobody.end(), args.begin(), args.end());
  ASSERT_EQ(run("/usr/bin/setpriv", as_nobody, shared / "nobody.stdout").status, 0);
  struct stat record {};
  ASSERT_EQ(stat((shared / "sum.txt.tilvex-grid").c_str(), &record), 0);
  ASSERT_NE(record.st_uid, 0u);
  std::vector<std::string> again = args;
  again.push_back("--again");
  const Outcome o = run(TILVEX_GRID, again, shared / "root.stdout", Launch{"/dev/null", -1, shared / "root.stderr"});
  EXPECT_EQ(o.status, 0) << slurp(shared / "root.stderr");
  EXPECT_EQ(lines_in(shared / "sum.txt"), 4);
  struct stat after {};
  ASSERT_EQ(stat((shared / "sum.txt.tilvex-grid").c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, record.st_uid);
}

// A file of the user's at the record's name that is not a record is left
// as it is: the grid stops before anything, and says why.
TEST(GridTrust, AFileThatIsNotARecordIsLeftAlone) {
  ScratchDir dir;
  spill(dir / "grid.txt", kData + "/worked.vrin 1 0 0 0\n");
  spill(dir / "out.txt.tilvex-grid", "my own notes\n");
  for (const char* how : {"", "--again"}) {
    std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt"};
    if (*how != '\0') args.push_back(how);
    const Outcome o = grid_run(dir, args);
    EXPECT_EQ(o.status, 2) << how;
    EXPECT_EQ(slurp(dir / "grid.stderr"),
              "tilvex-grid: '" + dir / "out.txt.tilvex-grid" + "' is not the record of a grid; it is left alone\n")
        << how;
    EXPECT_EQ(slurp(dir / "out.txt.tilvex-grid"), "my own notes\n") << how;
    EXPECT_EQ(slurp(dir / "out.txt"), "") << how;
  }
}

// A grid stopped while it waits for another process's lock on
// output_file2, in the rollback before its work or in a commit, has
// appended nothing of what waited, says so, and ends by the signal; once
// the lock is let go, --resume finishes it to the bytes of one clean run.
TEST(GridTrust, AGridStoppedWhileWaitingForALockAppendsNothingOfWhatWaited) {
  ScratchDir dir;
  const std::string w = kData + "/worked.vrin";
  ASSERT_EQ(mkfifo((dir / "fifo.vrin").c_str(), 0600), 0);
  spill(dir / "grid.txt", dir / "fifo.vrin" + " 1 0 0 0\n" + w + " 2 0 0 0\n" + w + " 3 0 0 0\n");
  const pid_t clean_run = start(TILVEX_GRID, grid_args(dir), dir / "grid.stdout");
  feed(dir / "fifo.vrin");
  ASSERT_EQ(finish_within(clean_run, 30), 0);
  const Left clean = left_in(dir);
  for (const bool in_a_commit : {false, true}) {
    SCOPED_TRACE(in_a_commit ? "in a commit" : "in the rollback before the work");
    remove_grid_files(dir);
    spill(dir / "out2.txt", "");
    const int held = open((dir / "out2.txt").c_str(), O_RDWR);
    if (!in_a_commit) {
      ASSERT_TRUE(lock_whole_file(held));
    }
    const pid_t pid = start(TILVEX_GRID, grid_args(dir), dir / "grid.stdout",
                            Launch{"/dev/null", -1, dir / "grid.stderr", {"TILVEX_LOCK_NOTICE=0"}});
    if (in_a_commit) {
      ASSERT_TRUE(recorded(dir, 0));  // begun, and waiting for the first point's input
      ASSERT_TRUE(lock_whole_file(held));
      feed(dir / "fifo.vrin");
    }
    for (int i = 0; i < 6000 && slurp(dir / "grid.stderr").find("waiting for") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGTERM);
    EXPECT_EQ(finish_within(pid, 30), 128 + SIGTERM);
    close(held);
    const std::string err = slurp(dir / "grid.stderr");
    EXPECT_NE(err.find("tilvex-grid: stopped by signal 15 (Terminated) with 0 of 3 points appended\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(slurp(dir / "out.txt"), "");
    EXPECT_EQ(slurp(dir / "out2.txt"), "");
    const pid_t resumed = start(TILVEX_GRID, grid_args(dir, {"--resume"}), dir / "grid.stdout");
    if (in_a_commit) {
      feed(dir / "fifo.vrin");
    }
    if (!in_a_commit) {  // no record was begun: the grid as it was
      EXPECT_EQ(finish_within(resumed, 30), 2);
      const pid_t again = start(TILVEX_GRID, grid_args(dir), dir / "grid.stdout");
      feed(dir / "fifo.vrin");
      EXPECT_EQ(finish_within(again, 30), 0);
    } else {
      EXPECT_EQ(finish_within(resumed, 30), 0);
    }
    EXPECT_TRUE(left_in(dir) == clean) << describe(left_in(dir), clean);
  }
}

// A complete grid's refusal counts the points appended, not those that
// failed: as many as output_file has lines.
TEST(GridTrust, ACompleteGridCountsTheAppendedPoints) {
  ScratchDir dir;
  small_grid(dir);
  ASSERT_EQ(grid_run(dir, grid_args(dir)).status, 1);  // the missing input
  const long appended = lines_in(dir / "out.txt");
  ASSERT_GT(appended, 0);
  ASSERT_LT(appended, 5);
  EXPECT_EQ(grid_run(dir, grid_args(dir)).status, 2);
  EXPECT_NE(slurp(dir / "grid.stderr").find("' is already complete: " + std::to_string(appended) + " points appended on "),
            std::string::npos)
      << slurp(dir / "grid.stderr");
}

}  // namespace
}  // namespace tilvex::test
