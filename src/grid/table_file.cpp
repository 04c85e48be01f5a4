#include "table_file.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <array>
#include <filesystem>
#include <map>
#include <vector>

#include "files/posix.hpp"
#include "formats/netcdf.hpp"
#include "netcdf_module.hpp"
#include "formats/table.hpp"
#include "text/error.hpp"

namespace tilvex::grid {

namespace {

bool same(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string normal(const std::string& name) {
  std::error_code e;
  return std::filesystem::absolute(name, e).lexically_normal().string();
}

// Whether `table` (its status `t`, if it exists) is the file `name`.
bool is_file(const std::string& table, const struct stat* t, const std::string& name) {
  if (t == nullptr) return normal(table) == normal(name);
  struct stat s {};
  if (name == "-") return ::fstat(0, &s) == 0 && same(*t, s);
  return ::stat(name.c_str(), &s) == 0 && same(*t, s);
}

// The first line of a regular file, without its newline; false if it has
// none within the first 64 KiB.
bool first_line(const std::string& name, std::string& line, bool& empty) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text(65536, '\0');
  ssize_t n = 0;
  while ((n = ::read(fd, text.data(), text.size())) < 0 && errno == EINTR) {
  }
  ::close(fd);
  if (n < 0) return false;
  text.resize(static_cast<std::size_t>(n));
  empty = text.empty();
  const std::size_t end = text.find('\n');
  if (end == std::string::npos) return empty;
  line = text.substr(0, end);
  return true;
}

// A table tilvex-grid wrote: empty, or its header row first, or (a part
// after the first) a row that reads back; each of the columns now or of
// an older table's.
bool looks_like_a_table(const std::string& table) {
  std::string line;
  bool empty = false;
  if (!first_line(table, line, empty)) return false;
  if (empty || formats::is_table_header(line)) return true;
  try {
    return formats::read_table(line + "\n", table).size() == 1;
  } catch (const Error&) {
    return false;
  }
}

// What write_table adds to a name for the file it writes first:
// ".123456789abc.partial".
constexpr std::size_t kPartialTail = 21;

// Why `table`, the file of `option`, must not be written, but for what
// it holds: the files the grid reads or appends to.
std::string named_fault(const std::string& table, const std::string& option, const GridFiles& files,
                        struct stat& t, bool& exists) {
  exists = ::stat(table.c_str(), &t) == 0;
  const struct stat* found = exists ? &t : nullptr;
  const std::string name = option + " '" + table + "' is ";
  const std::string after = "; nothing written";
  if (is_file(table, found, files.list)) return name + "the grid list" + after;
  if (is_file(table, found, files.output)) return name + "output_file" + after;
  if (is_file(table, found, files.output2)) return name + "output_file2" + after;
  if (is_file(table, found, files.record)) return name + "the grid's record" + after;
  for (const Point& p : files.points)
    if (is_file(table, found, p.input))
      return name + "the input of line " + std::to_string(p.line) + " of the list" + after;
  // Written at the end, under a new name in its folder: a folder that is
  // not there or cannot be written, or a name too long for the new one,
  // would fail only after the last point.
  const std::size_t slash = table.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : table.substr(0, slash);
  const std::string last = slash == std::string::npos ? table : table.substr(slash + 1);
  struct stat f {};
  std::string why;
  if (::stat(folder.c_str(), &f) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISDIR(f.st_mode)) {
    why = "not a folder";
  } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    why = std::strerror(errno);
  }
  if (!why.empty()) return option + " '" + table + "': its folder cannot be written (" + why + ")" + after;
  if (last.size() + kPartialTail > NAME_MAX) return name + "too long a name to be written under a new one first" + after;
  return {};
}

// Why the file at `name` must not be replaced by a grid's netCDF file, in
// words that follow "NAME is "; empty if it may: a netCDF file of a grid's
// results that is the run's own user's. Judged on the file opened (not a
// symlink at `name`; the folders on the way are followed, as the rename
// follows them). Another user's file is never read, so that no other
// user's bytes reach the netCDF library: a file made for its parser, or a
// sparse file of a GiB that would be read and copied whole.
std::string replace_fault(const std::string& name) {
  const std::string other = "a file that is not a netCDF file of tilvex-grid's; it is left as it is";
  const posix::Fd fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return other;
  if (st.st_uid != ::geteuid()) return "another user's file; it is left as it is";
  constexpr std::size_t kMost = std::size_t{1} << 30;
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() > kMost) return other;
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return is_grid_netcdf(text) ? std::string() : other;
}

}  // namespace

std::string table_fault(const std::string& table, const GridFiles& files) {
  struct stat t {};
  bool exists = false;
  if (std::string why = named_fault(table, "--table", files, t, exists); !why.empty()) return why;
  if (exists && (!S_ISREG(t.st_mode) || !looks_like_a_table(table)))
    return "--table '" + table + "' is a file that is not a table of tilvex-grid's; it is left as it is";
  return {};
}

std::string netcdf_fault(const std::string& netcdf, const std::string& table, const GridFiles& files,
                         std::span<const Point> part) {
  struct stat t {};
  bool exists = false;
  if (std::string why = named_fault(netcdf, "--netcdf", files, t, exists); !why.empty()) return why;
  if (std::string why = load_netcdf_module(); !why.empty()) return "--netcdf: " + why + "; nothing appended";
  const std::string name = "--netcdf '" + netcdf + "' is ";
  if (!table.empty()) {
    struct stat s {};
    if (exists ? ::stat(table.c_str(), &s) == 0 && same(s, t) : normal(table) == normal(netcdf))
      return name + "the table; nothing written";
  }
  if (exists)
    if (std::string why = replace_fault(netcdf); !why.empty()) return name + why;
  std::map<std::array<int, 4>, const Point*> seen;
  for (const Point& p : part) {
    const auto [at, fresh] = seen.emplace(std::array<int, 4>{p.grid.x, p.grid.y, p.grid.z, p.grid.t}, &p);
    if (!fresh)
      return "--netcdf: lines " + std::to_string(at->second->line) + " and " + std::to_string(p.line) +
             " of the list have the same grid indices; a netCDF grid holds one point a cell; nothing appended";
  }
  std::vector<formats::TableRow> rows(part.size());
  for (std::size_t i = 0; i < part.size(); ++i) rows[i].grid = part[i].grid;
  if (std::string why = formats::netcdf_fault(rows); !why.empty()) return "--netcdf: " + why + "; nothing appended";
  return {};
}

bool write_table(const std::string& table, std::string_view text, bool sync) {
  // A file of the user's own that it replaces keeps its permissions: made
  // 0600 (under the umask), the new file takes its group and its mode bits
  // (no group bits where its group cannot be had) before any byte is
  // written. (Each replaced file was 0666 under the umask, so a table or
  // netCDF file kept to its owner or group became readable by anyone.)
  struct stat old {};
  const bool keeps = ::lstat(table.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == ::geteuid();
  int fd = -1;
  std::string partial;
  for (int tries = 0; fd < 0 && tries < 100; ++tries) {
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return false;
    char tail[16];
    std::snprintf(tail, sizeof tail, "%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2],
                  random[3], random[4], random[5]);
    partial = table + "." + tail + ".partial";
    fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, keeps ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = true;
  if (keeps) {
    const mode_t mode = old.st_mode & 0777;
    ok = ::fchmod(fd, ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0 ? mode : mode & 0707) == 0;
  }
  const std::string_view pieces[] = {text};
  ok = ok && posix::write_all(fd, pieces);
  ok = ok && (!sync || posix::sync(fd));
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(partial.c_str(), table.c_str()) == 0;
  if (!ok) {
    const int saved = errno;
    ::unlink(partial.c_str());
    errno = saved;
    return false;
  }
  if (sync) {
    const std::size_t slash = table.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : table.substr(0, slash);
    const posix::Fd at(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    posix::sync(at.get());
  }
  return true;
}

}  // namespace tilvex::grid
