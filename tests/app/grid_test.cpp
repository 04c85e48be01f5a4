// End-to-end runs of tilvex-grid: the same bytes as a loop of tilvex runs,
// parts that concatenate to the whole, the table, the list's errors, and a
// grid stopped by a write failure, SIGTERM or SIGKILL that resumes to the
// bytes of one clean run.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kData = TILVEX_TEST_DATA;
const std::string kRealistic = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";

struct Point {
  std::string input, x, y, z, t;
};

// What a loop of tilvex runs leaves: the two files and standard output,
// and the same after each point.
struct Loop {
  std::string out, out2, printed;
  std::vector<std::string> out_after, out2_after;
};

Loop run_loop(const ScratchDir& dir, const std::vector<Point>& points, const std::string& level) {
  Loop loop;
  const std::string out = dir / "loop.txt", out2 = dir / "loop2.txt";
  fs::remove(out);
  fs::remove(out2);
  for (const Point& p : points) {
    loop.printed += run(TILVEX_BINARY, {p.input, out, level, out2, p.x, p.y, p.z, p.t},
                        dir / "loop.stdout")
                        .printed;
    loop.out_after.push_back(slurp(out));
    loop.out2_after.push_back(slurp(out2));
  }
  loop.out = slurp(out);
  loop.out2 = slurp(out2);
  fs::remove(out);
  fs::remove(out2);
  return loop;
}

std::string list_of(const std::vector<Point>& points) {
  std::string list = "# input x y z t\n\n";
  for (const Point& p : points) list += p.input + " " + p.x + "\t" + p.y + " " + p.z + " " + p.t + "\n";
  return list;
}

// Realistic points, points that accept nothing, a missing and an empty
// input, and a point listed twice.
std::vector<Point> mixed_points(const ScratchDir& dir) {
  spill(dir / "empty.vrin", "");
  std::vector<Point> points = {
      {kRealistic, "1", "0", "0", "0"},          {kData + "/worked.vrin", "2", "0", "0", "0"},
      {kData + "/best-only.vrin", "3", "0", "0", "0"},
      {kData + "/none-accepted.vrin", "4", "0", "0", "0"},
      {dir / "missing.vrin", "5", "0", "0", "0"},  {dir / "empty.vrin", "6", "0", "0", "0"},
      {kData + "/blank-lines.vrin", "7", "-1", "0", "0"},
      {kRealistic, "1", "0", "0", "0"},          {kData + "/extreme-trends.vrin", "8", "0", "0", "1"},
  };
  for (int i = 0; i < 6; ++i) points.push_back({kRealistic, std::to_string(10 + i), "0", "1", "0"});
  return points;
}

Outcome grid(const ScratchDir& dir, std::vector<std::string> args, const Launch& how = {}) {
  Launch with_err = how;
  const std::string err = dir / "grid.stderr";
  with_err.stderr_path = err;
  Outcome o = run(TILVEX_GRID, args, dir / "grid.stdout", with_err);
  return o;
}

std::string grid_stderr(const ScratchDir& dir) { return slurp(dir / "grid.stderr"); }

TEST(Grid, SameBytesAsTheLoopWhateverTheJobs) {
  ScratchDir dir;
  const auto points = mixed_points(dir);
  spill(dir / "grid.txt", list_of(points));
  const Loop loop = run_loop(dir, points, "95");
  ASSERT_EQ(loop.printed, "unable to open " + dir / "missing.vrin" + "\nunable to read " +
                              dir / "empty.vrin" + "\n");
  for (const char* jobs : {"1", "2", "7"}) {
    SCOPED_TRACE(jobs);
    spill(dir / "out.txt", "kept\n");
    fs::remove(dir / "out2.txt");
    // The same grid once more onto out.txt: on purpose, with --again.
    const Outcome o = grid(dir, {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--jobs",
                                 jobs, "--again"});
    EXPECT_EQ(o.status, 1);  // two points failed
    EXPECT_EQ(o.printed, loop.printed);
    EXPECT_EQ(slurp(dir / "out.txt"), "kept\n" + loop.out);
    EXPECT_EQ(slurp(dir / "out2.txt"), loop.out2);
    const std::string err = grid_stderr(dir);
    EXPECT_NE(err.find("\ntilvex-grid: 15 points: "), std::string::npos) << err;
    EXPECT_EQ(err.substr(err.size() - std::min<std::size_t>(err.size(), 11)), ", 2 failed\n") << err;
  }
  // One file for both, as the loop leaves it: lines, then summary, point by point.
  fs::remove(dir / "both.txt");
  for (const Point& p : points)
    run(TILVEX_BINARY, {p.input, dir / "both.txt", "95", dir / "both.txt", p.x, p.y, p.z, p.t},
        dir / "stdout");
  const std::string both = slurp(dir / "both.txt");
  fs::remove(dir / "both.txt");
  grid(dir, {dir / "grid.txt", dir / "both.txt", "95", dir / "both.txt", "--jobs", "2"});
  EXPECT_EQ(slurp(dir / "both.txt"), both);
}

// Parses a row of floats and prints them as the summary line does.
std::string summary_of_row(const std::string& row) {
  std::vector<std::string> f;
  std::istringstream in(row);
  for (std::string c; std::getline(in, c, '\t');) f.push_back(c);
  if (f.size() != 38 && f.size() != 39) return "row of " + std::to_string(f.size()) + " columns";  // notes empty or not
  std::vector<double> v;
  for (int k = 9; k < 30; ++k) v.push_back(std::strtof(f[k].c_str(), nullptr));
  char line[1024];
  std::snprintf(line, sizeof line,
                "phi= %4.2f %4.2f %4.2f tr1= %7.2f %7.2f %7.2f pl1= %6.2f %6.2f %6.2f "
                "tr2= %7.2f %7.2f %7.2f pl2= %6.2f %6.2f %6.2f tr3= %7.2f %7.2f %7.2f "
                "pl3= %6.2f %6.2f %6.2f\n",
                v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12],
                v[13], v[14], v[15], v[16], v[17], v[18], v[19], v[20]);
  return line;
}

TEST(Grid, PartsConcatenateToTheWholeAndTheTablePairsEverySummary) {
  ScratchDir dir;
  const auto points = mixed_points(dir);
  spill(dir / "grid.txt", list_of(points));
  grid(dir, {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--table",
             dir / "table.tsv"});
  std::string out, out2, table;
  for (int k = 0; k < 4; ++k) {
    const std::string part = std::to_string(k) + "/4", n = std::to_string(k);
    grid(dir, {dir / "grid.txt", dir / ("out-" + n), "95", dir / ("out2-" + n), "--part", part,
               "--table", dir / ("table-" + n), "--jobs", "2"});
    out += slurp(dir / ("out-" + n));
    out2 += slurp(dir / ("out2-" + n));
    table += slurp(dir / ("table-" + n));
    EXPECT_EQ(slurp(dir / ("out-" + n + ".tilvex-grid")).substr(
                  slurp(dir / ("out-" + n + ".tilvex-grid")).size() - 9),
              "complete\n");
  }
  EXPECT_EQ(out, slurp(dir / "out.txt"));
  EXPECT_EQ(out2, slurp(dir / "out2.txt"));
  EXPECT_EQ(table, slurp(dir / "table.tsv"));

  // A row per point in list order under the header; every ok row gives
  // its point's summary line, in order; a failed point has nan values.
  std::istringstream rows(table), summaries(out);
  std::string row, summary;
  std::getline(rows, row);
  EXPECT_EQ(row.rfind("input\txgrid\tygrid\tzgrid\ttgrid\tstatus\tn\taccepted\tthreshold\tphi\t", 0), 0u);
  std::size_t i = 0;
  for (; std::getline(rows, row); ++i) {
    ASSERT_LT(i, points.size());
    EXPECT_EQ(row.rfind(points[i].input + "\t" + points[i].x + "\t", 0), 0u) << row;
    EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 38) << row;
    if (row.find("\tok\t") != std::string::npos) {
      ASSERT_TRUE(std::getline(summaries, summary));
      EXPECT_EQ(summary_of_row(row), summary + "\n");
    } else {
      EXPECT_NE(row.find("\tunable to "), std::string::npos) << row;
      EXPECT_EQ(row.substr(row.size() - 9), "\tnan\tnan\t");  // and no notes
    }
  }
  EXPECT_EQ(i, points.size());
  EXPECT_FALSE(std::getline(summaries, summary));
  // best-only.vrin has no resample: no threshold. In none-accepted.vrin the
  // threshold is a NaN with its sign bit set: every NaN is "nan".
  EXPECT_NE(table.find("best-only.vrin\t3\t0\t0\t0\tok\t0\t0\tnan\t0.5\t1\t0\t"), std::string::npos);
  EXPECT_NE(table.find("none-accepted.vrin\t4\t0\t0\t0\tok\t1\t0\tnan\t0.5\t1\t0\t"),
            std::string::npos);

  // A resume against a record of another grid appends nothing.
  const std::string before = slurp(dir / "out.txt");
  const Outcome o = grid(dir, {dir / "grid.txt", dir / "out.txt", "90", dir / "out2.txt", "--resume"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(grid_stderr(dir).find("records another grid"), std::string::npos);
  EXPECT_EQ(slurp(dir / "out.txt"), before);
}

TEST(Grid, AMalformedListAppendsNothing) {
  ScratchDir dir;
  struct Case {
    std::string list, message;
  };
  const Case cases[] = {
      {"a.vrin 1 2 3 4\nb.vrin 1 2 3\n", ":2: expected 5 fields (input xgrid ygrid zgrid tgrid), found 4\n"},
      {"\n# c\na.vrin 1 2 3 4 5\n", ":3: expected 5 fields (input xgrid ygrid zgrid tgrid), found 6\n"},
      {"a.vrin 1 2.5 3 4\n", ":1: field 3 is not an int: 2.5\n"},
      {"a.vrin 1 2 3 +4\n", ":1: field 5 is not an int: +4\n"},
      {"a.vrin 1 2 3 2147483648\n", ":1: field 5 is not an int: 2147483648\n"},
  };
  for (const Case& c : cases) {
    spill(dir / "grid.txt", c.list);
    const Outcome o = grid(dir, {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(grid_stderr(dir), "tilvex-grid: " + dir / "grid.txt" + c.message);
    EXPECT_FALSE(fs::exists(dir / "out.txt"));
    EXPECT_FALSE(fs::exists(dir / "out2.txt"));
  }
}

// --netcdf is refused, before anything is appended, where its file is the
// table or a file of another kind, or where the list's points cannot be
// one grid; tilvex-netcdf makes from the table what the grid wrote.
TEST(Grid, TheNetcdfFileIsTheTablesAndOnlyReplacesItsOwn) {
  ScratchDir dir;
  spill(dir / "grid.txt", kData + "/worked.vrin 1 0 0 0\n" + kRealistic + " 2 1 0 0\n");
  const std::vector<std::string> base = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt"};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  spill(dir / "notes.txt", "my notes\n");
  spill(dir / "dup.txt", kData + "/worked.vrin 1 0 0 0\n" + kRealistic + " 2 0 0 0\n" + kRealistic + " 1 0 0 0\n");
  struct Case {
    std::vector<std::string> args;
    std::string reason;
  };
  const Case cases[] = {
      {with({"--table", dir / "t.tsv", "--netcdf", dir / "t.tsv"}),
       "--netcdf '" + dir / "t.tsv" + "' is the table; nothing written"},
      {with({"--netcdf", dir / "notes.txt"}),
       "--netcdf '" + dir / "notes.txt" + "' is a file that is not a netCDF file of tilvex-grid's; it is left as it is"},
      {with({"--netcdf", dir / "out.txt"}), "--netcdf '" + dir / "out.txt" + "' is output_file; nothing written"},
      {{dir / "dup.txt", dir / "out.txt", "95", dir / "out2.txt", "--netcdf", dir / "g.nc"},
       "--netcdf: lines 1 and 3 of the list have the same grid indices; a netCDF grid holds one point a cell; "
       "nothing appended"},
  };
  for (const Case& c : cases) {
    const Outcome o = grid(dir, c.args);
    EXPECT_EQ(o.status, 2) << c.reason;
    EXPECT_EQ(grid_stderr(dir), "tilvex-grid: " + c.reason + "\n");
    EXPECT_FALSE(fs::exists(dir / "out2.txt"));
    EXPECT_FALSE(fs::exists(dir / "g.nc"));
  }
  EXPECT_EQ(slurp(dir / "notes.txt"), "my notes\n");
  // A tilvex-grid without its netCDF writer beside it (nor installed)
  // refuses --netcdf alone.
  fs::create_directory(dir / "bin");
  fs::copy_file(TILVEX_GRID, dir / "bin/tilvex-grid");
  fs::permissions(dir / "bin/tilvex-grid", fs::perms::owner_all);
  Launch quiet;
  quiet.stderr_path = dir / "alone.stderr";
  const Outcome alone = run(dir / "bin/tilvex-grid", with({"--netcdf", dir / "g.nc"}), dir / "alone.stdout", quiet);
  EXPECT_EQ(alone.status, 2);
  EXPECT_NE(slurp(dir / "alone.stderr").find("tilvex-grid: --netcdf: the netCDF writer is not installed (no " +
                                              dir / "bin/tilvex-netcdf.so"),
            std::string::npos)
      << slurp(dir / "alone.stderr");
  EXPECT_FALSE(fs::exists(dir / "out2.txt"));
  EXPECT_EQ(run(dir / "bin/tilvex-grid", with({"--table", dir / "alone.tsv"}), dir / "alone.stdout", quiet).status, 0);
  fs::remove(dir / "out.txt");
  fs::remove(dir / "out2.txt");
  fs::remove(dir / "out.txt.tilvex-grid");
  // The same list, cut into parts, may hold a point twice in other parts.
  EXPECT_EQ(grid(dir, {dir / "dup.txt", dir / "p.txt", "95", dir / "p2.txt", "--part", "1/2", "--netcdf",
                       dir / "p.nc"}).status, 0);

  // Written, then written again over its own file; tilvex-netcdf gives the
  // same file from the table, but for the attributes that name the program.
  ASSERT_EQ(grid(dir, with({"--table", dir / "t.tsv", "--netcdf", dir / "g.nc"})).status, 0);
  ASSERT_EQ(grid(dir, with({"--again", "--table", dir / "t.tsv", "--netcdf", dir / "g.nc"})).status, 0);
  const auto dump = [&](const std::string& nc) {
    EXPECT_EQ(std::system(("ncdump " + nc + " > " + dir / "dump.cdl").c_str()), 0);
    std::string kept;
    std::istringstream in(slurp(dir / "dump.cdl"));
    for (std::string line; std::getline(in, line);)
      if (line.find(":source") == std::string::npos && line.find(":history") == std::string::npos &&
          line.find(":table") == std::string::npos && line.rfind("netcdf ", 0) != 0)
        kept += line + "\n";
    return kept;
  };
  const Outcome made = run(TILVEX_NETCDF, {dir / "t.tsv", dir / "m.nc", "--level", "95", "--list", dir / "grid.txt"},
                           dir / "m.stdout");
  EXPECT_EQ(made.status, 0);
  const std::string grids = dump(dir / "g.nc");
  EXPECT_EQ(dump(dir / "m.nc"), grids);
  EXPECT_NE(grids.find(" shmax =\n  ", grids.find("data:")), std::string::npos);
  // What each file names: the program that wrote it, and the table it was
  // made from.
  ASSERT_EQ(std::system(("ncdump -h " + dir / "m.nc" + " > " + dir / "m.cdl").c_str()), 0);
  EXPECT_NE(slurp(dir / "m.cdl").find(":table = \"" + dir / "t.tsv" + "\" ;"), std::string::npos) << slurp(dir / "m.cdl");
  EXPECT_NE(slurp(dir / "m.cdl").find(":source = \"tilvex-netcdf "), std::string::npos);
  // A netCDF file in a folder that is not there is refused at once, not
  // after the last point.
  const Outcome early = grid(dir, with({"--again", "--netcdf", dir / "missing/g.nc"}));
  EXPECT_EQ(early.status, 2);
  EXPECT_EQ(grid_stderr(dir), "tilvex-grid: --netcdf '" + dir / "missing/g.nc" +
                                  "': its folder cannot be written (No such file or directory); nothing written\n");
  // One that cannot be written once every point is appended (larger than
  // the files may grow): output_file's status and message.
  spill(dir / "small.txt", kData + "/worked.vrin 1 0 0 0\n" + kData + "/worked.vrin 2 0 0 0\n");
  Launch limited;
  limited.file_size_limit = 20000;
  const Outcome lost =
      grid(dir, {dir / "small.txt", dir / "s.txt", "95", dir / "s2.txt", "--netcdf", dir / "s.nc"}, limited);
  EXPECT_EQ(lost.status, 213);
  EXPECT_EQ(lost.printed, "unable to write " + dir / "s.nc" + "\n");
  EXPECT_FALSE(fs::exists(dir / "s.nc"));
  // tilvex-netcdf refuses as tilvex-grid does, and a table of one point twice.
  const std::string doubled = slurp(dir / "t.tsv") + slurp(dir / "t.tsv").substr(slurp(dir / "t.tsv").find('\n') + 1);
  spill(dir / "doubled.tsv", doubled);
  struct Refused {
    std::vector<std::string> args;
    int status;
    std::string reason;
  };
  const Refused refused[] = {
      {{dir / "t.tsv", dir / "notes.txt"}, 2,
       "'" + dir / "notes.txt" + "' is a file that is not a netCDF file of tilvex-grid's; it is left as it is"},
      {{dir / "t.tsv", dir / "t.tsv"}, 2, "'" + dir / "t.tsv" + "' is the table; nothing written"},
      {{dir / "doubled.tsv", dir / "d.nc"}, 1,
       dir / "doubled.tsv" + ": rows 1 and 3 have the same grid indices (1 0 0 0); a netCDF grid holds one value a cell"},
      {{dir / "none.tsv", dir / "d.nc"}, 1, "cannot open '" + dir / "none.tsv" + "': No such file or directory"},
      {{dir / "t.tsv", ""}, 2, "the netCDF file's name is empty"},  // was "'' is the grid list"
  };
  for (const Refused& r : refused) {
    Launch how;
    how.stderr_path = dir / "n.stderr";
    EXPECT_EQ(run(TILVEX_NETCDF, r.args, dir / "n.stdout", how).status, r.status) << r.reason;
    EXPECT_EQ(slurp(dir / "n.stderr"), "tilvex-netcdf: " + r.reason + "\n");
  }
  EXPECT_EQ(slurp(dir / "notes.txt"), "my notes\n");
  EXPECT_FALSE(fs::exists(dir / "d.nc"));
}

// A netCDF file of a grid's is replaced whatever name leads to it: one
// relative to the folder the program runs in, one with "." or "..", one
// through a symlink to a folder. (Each was refused as "not a netCDF file
// of tilvex-grid's": no grid could be run again with the same --netcdf
// name, unless the name was absolute and free of symlinks.)
TEST(Grid, ItsNetcdfFileIsReplacedByAnyName) {
  ScratchDir dir;
  fs::create_directory(dir / "results");
  fs::create_directory_symlink(dir / "results", dir / "linked");
  spill(dir / "two.txt", kData + "/worked.vrin 1 0 0 0\n" + kRealistic + " 2 0 0 0\n");
  spill(dir / "one.txt", kRealistic + " 5 0 0 0\n");
  Launch here;
  here.cwd = dir.path();
  here.stderr_path = dir / "run.stderr";
  // The x coordinate's values, as ncdump gives them.
  const auto xs = [&] {
    std::system(("ncdump -v x " + dir / "results/g.nc" + " > " + dir / "dump.cdl").c_str());
    const std::string dump = slurp(dir / "dump.cdl");
    const std::size_t at = dump.find(" x = ");
    return at == std::string::npos ? std::string("(none)") : dump.substr(at, dump.find('\n', at) - at);
  };
  for (const std::string& name : {std::string("results/g.nc"), std::string("./results/../results/g.nc"),
                                  dir / "linked/g.nc"}) {
    SCOPED_TRACE(name);
    fs::remove(dir / "results/g.nc");
    for (const char* f : {"out.txt", "out2.txt", "out.txt.tilvex-grid"}) fs::remove(dir / f);
    const std::vector<std::string> two = {"two.txt", "out.txt", "95", "out2.txt", "--table", "t.tsv", "--netcdf", name};
    ASSERT_EQ(run(TILVEX_GRID, two, dir / "run.stdout", here).status, 0) << slurp(dir / "run.stderr");
    EXPECT_EQ(xs(), " x = 1, 2 ;");
    const std::vector<std::string> one = {"one.txt", "out.txt", "95", "out2.txt", "--again", "--netcdf", name};
    EXPECT_EQ(run(TILVEX_GRID, one, dir / "run.stdout", here).status, 0) << slurp(dir / "run.stderr");
    EXPECT_EQ(xs(), " x = 5 ;");
    EXPECT_EQ(run(TILVEX_NETCDF, {"t.tsv", name}, dir / "run.stdout", here).status, 0) << slurp(dir / "run.stderr");
    EXPECT_EQ(xs(), " x = 1, 2 ;");
  }
  std::vector<std::string> left;  // no .partial file
  for (const auto& e : fs::directory_iterator(dir / "results")) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"g.nc"});
}

// A table or netCDF file of the user's own that a run replaces keeps its
// mode and group; a new one is made as any file (0666 under the umask).
// (Each was made anew 0666 under the umask: a file kept to its owner or
// group became readable by anyone after the next run.)
TEST(Grid, AReplacedTableOrNetcdfFileKeepsItsPermissions) {
  ScratchDir dir;
  spill(dir / "grid.txt", kData + "/worked.vrin 1 0 0 0\n" + kRealistic + " 2 1 0 0\n");
  const std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt", "--again",
                                         "--table", dir / "t.tsv", "--netcdf", dir / "g.nc"};
  ASSERT_EQ(grid(dir, args).status, 0) << grid_stderr(dir);
  const std::string table = slurp(dir / "t.tsv");
  const mode_t mask = umask(0);
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat((dir / "g.nc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  // Another group than the user's own, where the user is root.
  const group* other = geteuid() == 0 ? getgrnam("nogroup") : nullptr;
  const gid_t group = other != nullptr ? other->gr_gid : getegid();
  ASSERT_EQ(chown((dir / "g.nc").c_str(), static_cast<uid_t>(-1), group), 0);
  chmod((dir / "g.nc").c_str(), 0640);
  chmod((dir / "t.tsv").c_str(), 0600);
  const auto kept = [&](const std::string& name, mode_t mode, gid_t gid) {
    struct stat now {};
    ASSERT_EQ(stat((dir / name).c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 0777, mode) << name;
    EXPECT_EQ(now.st_gid, gid) << name;
  };
  ASSERT_EQ(grid(dir, args).status, 0) << grid_stderr(dir);
  kept("t.tsv", 0600, getegid());
  kept("g.nc", 0640, group);
  EXPECT_EQ(slurp(dir / "t.tsv"), table);
  chmod((dir / "g.nc").c_str(), 0604);
  ASSERT_EQ(run(TILVEX_NETCDF, {dir / "t.tsv", dir / "g.nc"}, dir / "n.stdout").status, 0);
  kept("g.nc", 0604, group);
}

// The files hold whole points, in list order: what the loop leaves after
// some point (or before the first).
void expect_whole_points(const ScratchDir& dir, const Loop& loop) {
  const std::string out = slurp(dir / "out.txt"), out2 = slurp(dir / "out2.txt");
  bool found = out.empty() && out2.empty();
  for (std::size_t i = 0; i < loop.out_after.size() && !found; ++i)
    found = out == loop.out_after[i] && out2 == loop.out2_after[i];
  EXPECT_TRUE(found) << "not whole points: " << out.size() << " and " << out2.size() << " bytes";
}

// Runs the command that the grid printed on standard error to resume.
int run_printed_resume(const ScratchDir& dir) {
  const std::string err = grid_stderr(dir);
  const std::string mark = "tilvex-grid: to finish the grid: ";
  const std::size_t at = err.find(mark);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no resume command in: " << err;
    return -1;
  }
  const std::string command = err.substr(at + mark.size(), err.find('\n', at) - at - mark.size());
  return run("/bin/sh", {"-c", command + " >/dev/null 2>&1"}, dir / "resume.stdout").status;
}

std::vector<Point> many_points(int n) {
  std::vector<Point> points;
  for (int i = 0; i < n; ++i) points.push_back({kRealistic, std::to_string(i), "0", "0", "0"});
  return points;
}

TEST(Grid, AWriteFailureStopsAtWholePointsAndResumes) {
  ScratchDir dir;
  const auto points = many_points(12);
  spill(dir / "grid.txt", list_of(points));
  const Loop loop = run_loop(dir, points, "95");
  const std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                         "--table", dir / "table.tsv", "--jobs", "2"};
  // A file size limit that lets a few points in.
  const Outcome o = grid(dir, args, Launch{"/dev/null", 5 * 180000});
  EXPECT_EQ(o.status, 252);
  EXPECT_EQ(o.printed, "unable to write " + dir / "out2.txt" + "\n");
  EXPECT_GT(slurp(dir / "out2.txt").size(), 0u);
  expect_whole_points(dir, loop);
  EXPECT_FALSE(fs::exists(dir / "table.tsv"));
  EXPECT_EQ(run_printed_resume(dir), 0);
  EXPECT_EQ(slurp(dir / "out.txt"), loop.out);
  EXPECT_EQ(slurp(dir / "out2.txt"), loop.out2);
  const std::string table = slurp(dir / "table.tsv");
  fs::remove_all(dir / "clean");
  fs::create_directory(dir / "clean");
  grid(dir, {dir / "grid.txt", dir / "clean/out.txt", "95", dir / "clean/out2.txt", "--table",
             dir / "clean/table.tsv"});
  EXPECT_EQ(table, slurp(dir / "clean/table.tsv"));
}

// Waits until the grid's record holds `rows` points.
bool recorded(const ScratchDir& dir, std::size_t rows) {
  for (int i = 0; i < 5000; ++i) {
    const std::string record = slurp(dir / "out.txt.tilvex-grid");
    if (static_cast<std::size_t>(std::count(record.begin(), record.end(), '\n')) >= rows + 1)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// Gives the FIFO its input, for the grid that waits for it.
void feed(const std::string& fifo) {
  ASSERT_TRUE(feed_fifo(fifo, slurp(kRealistic))) << "no grid read " << fifo;
}

// A grid stopped between two commits, by SIGTERM or SIGKILL, leaves whole
// points; the printed command, or --resume, finishes it to the bytes of one
// clean run. The fourth point's input is a FIFO that the test feeds only
// when it wants the grid to go on, so the grid is stopped after exactly
// three points.
TEST(Grid, AStoppedOrKilledGridResumes) {
  ScratchDir dir;
  auto points = many_points(20);
  const Loop loop = run_loop(dir, points, "95");
  ASSERT_EQ(mkfifo((dir / "fifo.vrin").c_str(), 0600), 0);
  points[3].input = dir / "fifo.vrin";
  spill(dir / "grid.txt", list_of(points));
  // One clean run's table, to compare with.
  pid_t clean = start(TILVEX_GRID, {dir / "grid.txt", dir / "clean.txt", "95", dir / "clean2.txt",
                                    "--table", dir / "clean.tsv"},
                      dir / "clean.stdout");
  feed(dir / "fifo.vrin");
  ASSERT_EQ(finish(clean), 0);
  const std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", dir / "out2.txt",
                                         "--jobs", "1", "--table", dir / "table.tsv"};
  for (int sig : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(sig);
    fs::remove(dir / "out.txt");
    fs::remove(dir / "out2.txt");
    fs::remove(dir / "out.txt.tilvex-grid");
    fs::remove(dir / "table.tsv");
    const std::string err = dir / "grid.stderr";
    const pid_t pid =
        start(TILVEX_GRID, args, dir / "grid.stdout", Launch{"/dev/null", -1, err});
    ASSERT_TRUE(recorded(dir, 3));
    kill(pid, sig);
    EXPECT_EQ(finish(pid), 128 + sig);
    EXPECT_EQ(slurp(dir / "out.txt"), loop.out_after[2]);
    EXPECT_EQ(slurp(dir / "out2.txt"), loop.out2_after[2]);

    pid_t resumed;
    if (sig == SIGTERM) {
      const std::string printed = slurp(err), mark = "tilvex-grid: to finish the grid: ";
      const std::size_t at = printed.find(mark);
      ASSERT_NE(at, std::string::npos) << printed;
      const std::string command =
          printed.substr(at + mark.size(), printed.find('\n', at) - at - mark.size());
      resumed = start("/bin/sh", {"-c", command}, dir / "resume.stdout");
    } else {
      std::vector<std::string> resume = args;
      resume.push_back("--resume");
      resumed = start(TILVEX_GRID, resume, dir / "resume.stdout");
    }
    feed(dir / "fifo.vrin");
    EXPECT_EQ(finish(resumed), 0);
    EXPECT_EQ(slurp(dir / "out.txt"), loop.out);
    EXPECT_EQ(slurp(dir / "out2.txt"), loop.out2);
    EXPECT_EQ(slurp(dir / "table.tsv"), slurp(dir / "clean.tsv"));
  }
}

// A grid waiting on a FIFO, to open it (no reader yet) or to write to it
// (a reader that does not read), ends on SIGTERM, by that signal, as a
// tilvex run does; no stop between commits reaches a write that never
// returns. The next grid rolls the regular file back and goes on to the
// bytes of a loop of runs.
TEST(Grid, AGridWaitingOnAPipeEndsOnSigterm) {
  ScratchDir dir;
  const auto points = many_points(3);
  const Loop loop = run_loop(dir, points, "95");
  spill(dir / "grid.txt", list_of(points));
  const std::string fifo = dir / "accepted.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::string> args = {dir / "grid.txt", dir / "out.txt", "95", fifo, "--jobs", "1"};
  for (const bool reader : {false, true}) {
    SCOPED_TRACE(reader ? "a reader that does not read" : "no reader");
    // The accepted lines of a point (150 kB) fill the FIFO and block the grid.
    const int stuck = reader ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    const pid_t pid = start(TILVEX_GRID, args, dir / "grid.stdout", Launch{"/dev/null", -1, dir / "grid.stderr"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGTERM);
    EXPECT_EQ(finish_within(pid, 20), 128 + SIGTERM);
    if (stuck >= 0) close(stuck);
  }
  std::string drained;
  std::thread drain([&] { drained = slurp(fifo); });
  EXPECT_EQ(run(TILVEX_GRID, args, dir / "grid.stdout").status, 0);
  drain.join();
  EXPECT_EQ(slurp(dir / "out.txt"), loop.out);
  EXPECT_EQ(drained, loop.out2);
}

}  // namespace
}  // namespace tilvex::test
