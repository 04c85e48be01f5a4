#include "formats/accepted.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/journal.hpp"
#include "formats/committed_file.hpp"

namespace tilvex::formats {
namespace {

namespace fs = std::filesystem;

// A folder of its own, removed at the end.
struct Folder {
  fs::path path;
  Folder() {
    std::string t = (fs::temp_directory_path() / "tilvex-formats-XXXXXX").string();
    path = ::mkdtemp(t.data());
  }
  ~Folder() { fs::remove_all(path); }
  std::string file(const std::string& name, const std::string& text) const {
    std::ofstream(path / name, std::ios::binary) << text;
    return (path / name).string();
  }
};

std::vector<AcceptedLine> read_all(const std::string& path, std::size_t chunk = std::size_t{1} << 20) {
  std::vector<AcceptedLine> lines;
  read_accepted(path, [&](const AcceptedLine& a) { lines.push_back(a); }, chunk);
  return lines;
}

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// The values are the nearest floats to the printed decimals, as the
// Python package has always read them (the plot read doubles).
TEST(ReadAccepted, ValuesAreTheNearestFloats) {
  Folder d;
  const auto lines = read_all(d.file("a.txt",
      "3 7 0 1 0.450000 0.000000 12.000000 125.000000 3.000000 250.000000 80.000000\n\n"
      "-1 2 3 4 +0.1 nan 1 inf -nan -inf 12.345678\r\n"));  // a carriage return is a blank
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].grid, (Grid{3, 7, 0, 1}));
  EXPECT_EQ(bits(lines[0].phi), bits(0x1.ccccccp-2f));  // 0.45
  EXPECT_EQ(bits(lines[0].plunge[2]), bits(80.0f));
  EXPECT_EQ(lines[1].grid, (Grid{-1, 2, 3, 4}));
  EXPECT_EQ(bits(lines[1].phi), bits(0x1.99999ap-4f));  // 0.1
  EXPECT_EQ(bits(lines[1].plunge[2]), bits(0x1.8b0fccp+3f));  // 12.345678
  EXPECT_TRUE(std::isnan(lines[1].trend[0]));
  EXPECT_EQ(lines[1].trend[1], INFINITY);
  EXPECT_EQ(bits(lines[1].plunge[1]), bits(std::nanf("")));  // "-nan" is a quiet NaN without its sign
  EXPECT_EQ(lines[1].trend[2], -INFINITY);
}

TEST(ReadAccepted, LinesThatAreNotAcceptedLines) {
  struct Bad {
    const char* text;
    const char* reason;  // after "NAME:"
    std::size_t line;
    int field;
    std::size_t fields;
    const char* word;
  };
  const Bad bad[] = {
      {"1 2 3 4 0.5 1 2 3 4 5\n", "1: expected 11 fields (4 grid indices, phi and 3 trend/plunge pairs), found 10",
       1, 0, 10, ""},
      {"1 2 3 4 0.5 1 2 3 4 5 6\n1 2 3 4 0.5 1 2 3 4 5 6 7\n",
       "2: expected 11 fields (4 grid indices, phi and 3 trend/plunge pairs), found 12", 2, 0, 12, ""},
      {"\n\n1 2 3 x 0.5 1 2 3 4 5 6\n", "3: field 4 is not an integer: x", 3, 4, 11, "x"},
      {"1.5 2 3 4 0.5 1 2 3 4 5 6\n", "1: field 1 is not an integer: 1.5", 1, 1, 11, "1.5"},
      {"1 2 3 4 0.5 1 2 3 4 5 6x", "1: field 11 is not a number: 6x", 1, 11, 11, "6x"},
      {"1 2 3 4 1e39 1 2 3 4 5 6\n", "1: field 5 is not a number: 1e39", 1, 5, 11, "1e39"},  // beyond the floats
      {"1 2 3 4 0.5 0x1p3 2 3 4 5 6\n", "1: field 6 is not a number: 0x1p3", 1, 6, 11, "0x1p3"},
      {"1 2 3 4 0.5 1 ++2 3 4 5 6\n", "1: field 7 is not a number: ++2", 1, 7, 11, "++2"},
  };
  Folder d;
  for (const Bad& b : bad) {
    const std::string path = d.file("bad.txt", b.text);
    try {
      read_all(path);
      ADD_FAILURE() << b.text;
    } catch (const AcceptedLineError& e) {
      EXPECT_EQ(e.reason(), path + ":" + b.reason) << b.text;
      EXPECT_EQ(e.status(), 1);
      EXPECT_EQ(e.line, b.line) << b.text;
      EXPECT_EQ(e.field, b.field) << b.text;
      EXPECT_EQ(e.fields, b.fields) << b.text;
      EXPECT_EQ(e.word, b.word) << b.text;
    }
  }
}

// Lines cut across chunks of any size, a last line without its newline,
// and only the length a hot journal records.
TEST(ReadAccepted, TheCommittedPartInChunks) {
  Folder d;
  const std::string first = "3 7 0 1 0.5 1 2 3 4 5 6\n", second = "4 7 0 1 0.25 10 20 30 40 50 60\n",
                    third = "5 7 0 1 0.125 1 2 3 4 5 6";
  const std::string path = d.file("a.txt", first + second + third);
  for (std::size_t chunk : {1, 2, 7, 23, 24, 25, 1 << 20}) {
    const auto lines = read_all(path, chunk);
    ASSERT_EQ(lines.size(), 3u) << chunk;
    EXPECT_EQ(lines[1].grid, (Grid{4, 7, 0, 1})) << chunk;
    EXPECT_EQ(lines[1].plunge[2], 60.0f) << chunk;
    EXPECT_EQ(lines[2].phi, 0.125f) << chunk;
  }
  // An append that died after the first line: its journal records the
  // length before it.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  journal::Journal j;
  j.tx = 1;
  j.files = {{st.st_dev, st.st_ino, static_cast<off_t>(first.size()), fs::absolute(path).string()}};
  const int folder = ::open(d.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_TRUE(journal::create(folder, "a.txt", j, false));
  ::close(folder);
  for (std::size_t chunk : {1, 5, 1 << 20}) {
    const auto lines = read_all(path, chunk);
    ASSERT_EQ(lines.size(), 1u) << chunk;
    EXPECT_EQ(lines[0].grid, (Grid{3, 7, 0, 1}));
  }
  EXPECT_EQ(committed_text(path), first);

  // A bad line cut across chunks is named by its own number.
  const std::string bad = d.file("bad.txt", first + second + "6 7 0 1 0.5 1 2 3 4 5 x6\n");
  for (std::size_t chunk : {3, 7, 50}) {
    try {
      read_all(bad, chunk);
      ADD_FAILURE() << chunk;
    } catch (const AcceptedLineError& e) {
      EXPECT_EQ(e.line, 3u) << chunk;
      EXPECT_EQ(e.reason(), bad + ":3: field 11 is not a number: x6") << chunk;
    }
  }
}

// A pipe has no committed length: it is read to its end (the plot once
// read it as empty).
TEST(ReadAccepted, APipeToItsEnd) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const std::string text = "3 7 0 1 0.5 1 2 3 4 5 6\n4 7 0 1 0.5 1 2 3 4 5 6\n";
  ASSERT_EQ(::write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(p[1]);
  const auto lines = read_all("/dev/fd/" + std::to_string(p[0]));
  ::close(p[0]);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].grid, (Grid{4, 7, 0, 1}));
}

TEST(ReadAccepted, FilesThatCannotBeRead) {
  Folder d;
  const std::string missing = (d.path / "missing.txt").string(), folder = d.path.string();
  struct Case {
    std::string path, fixed, reason;
    bool opened;
    int error;
  };
  const Case cases[] = {
      {missing, "unable to open " + missing, "cannot open '" + missing + "': No such file or directory", false, ENOENT},
      {folder, "unable to read " + folder, "cannot read '" + folder + "': Is a directory", true, EISDIR},
  };
  for (const Case& c : cases) {
    try {
      read_all(c.path);
      ADD_FAILURE() << c.path;
    } catch (const FileError& e) {
      EXPECT_EQ(e.fixed(), c.fixed);
      EXPECT_EQ(e.reason(), c.reason);
      EXPECT_EQ(e.opened(), c.opened);
      EXPECT_EQ(e.error_number(), c.error);
    }
  }
}

TEST(SelectGrid, OneGridPoint) {
  Folder d;
  const std::string two = d.file("two.txt", "3 7 0 1 0.5 1 2 3 4 5 6\n4 7 0 1 0.5 1 2 3 4 5 6\n3 7 0 1 0.6 1 2 3 4 5 6\n");
  const std::string one = d.file("one.txt", "4 7 0 1 0.5 1 2 3 4 5 6\n\n4 7 0 1 0.75 1 2 3 4 5 6\n");
  const std::string none = d.file("none.txt", "\n\n");
  struct Case {
    std::string path;
    std::optional<Grid> chosen;
    std::string error;  // empty: none
    Grid grid;
    std::vector<float> phis;  // of the lines handed over
  };
  const Case cases[] = {
      {two, Grid{3, 7, 0, 1}, "", {3, 7, 0, 1}, {0.5f, 0.6f}},
      {two, std::nullopt, two + ": holds 2 grid points; choose one with --grid X Y Z T: 3 7 0 1, 4 7 0 1", {}, {}},
      {two, Grid{9, 9, 9, 9}, two + ": no accepted resample for grid point 9 9 9 9", {}, {}},
      {one, std::nullopt, "", {4, 7, 0, 1}, {0.5f, 0.75f}},
      {none, std::nullopt, none + ": holds no accepted resamples", {}, {}},
      {none, Grid{1, 1, 1, 1}, none + ": holds no accepted resamples", {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<float> phis;
    try {
      const Grid g = select_grid(c.path, c.chosen, [&](const AcceptedLine& a) { phis.push_back(a.phi); });
      EXPECT_EQ(c.error, "");
      EXPECT_EQ(g, c.grid);
      EXPECT_EQ(phis, c.phis);
    } catch (const Error& e) {
      EXPECT_EQ(e.reason(), c.error);
      EXPECT_EQ(e.status(), 1);
    }
  }
}

}  // namespace
}  // namespace tilvex::formats
