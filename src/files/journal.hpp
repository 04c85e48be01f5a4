#pragma once
// The rollback journal of an append, after the technique of SQLite's
// rollback journal and super-journal: before its first output byte, a run
// writes, beside each regular file it extends, a journal that records the
// identity (device and inode), the path and the length of every file of the
// append. The journal of the first file in lock order is the commit point:
// its removal commits the append; the others name it. A run that holds a
// file's lock and finds a hot journal (its commit journal still there)
// knows its writer died, and cuts the files back to the recorded lengths.
//
// Name: beside FILE, ".FILE.tilvex-journal". Format (text):
//   tilvex-journal 1
//   tx <16 hex digits>
//   commit <hex of the commit journal's path>   (the commit journal: "commit -")
//   file <device> <inode> <length> <hex of the file's absolute path>   (one a file)
//   check <16 hex digits: FNV-1a 64 of the lines above>
// A journal whose check does not match was torn: its writer died before
// its first output byte.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tilvex::journal {

struct FileEntry {
  dev_t device = 0;
  ino_t inode = 0;
  off_t length = 0;
  std::string path;  // absolute
};

struct Journal {
  std::uint64_t tx = 0;
  std::string commit;  // the commit journal's path; empty in the commit journal itself
  std::vector<FileEntry> files;
};

// The journal's path for a result file named `file` (absolute or not).
std::string path_for(const std::string& file);

// `file` as an absolute path (the working directory before a relative one).
std::string absolute(const std::string& file);

std::string encode(const Journal& j);

// What a journal's bytes hold: a journal, or nothing if it is torn.
std::optional<Journal> decode(std::string_view text);

// Creates the journal at `path`, never over an existing file and never
// through a symlink, and writes it whole (and syncs it and its directory
// if `sync`). False if it cannot; errno tells why.
bool create(const std::string& path, const Journal& j, bool sync);

// How a journal found on disk stands.
enum class Found { none, torn, foreign, ours };

// Reads the journal at `path`: none if there is no file; torn if it is a
// regular file of root's or this user's that does not decode (its writer
// died before its first output byte); foreign if it is not a regular file,
// is a symlink, or has an owner other than root, this user, or the owner
// of every file it names.
Found read(const std::string& path, Journal& out, std::string& why);

// Fsyncs the directory holding `path`.
void sync_directory(const std::string& path);

// The length of `file` (identity `device`, `inode`) that is committed: the
// recorded length if a hot journal of an append that died names it, else
// `size`. For readers, which then read only whole runs.
off_t committed_length(const std::string& file, dev_t device, ino_t inode, off_t size);

}  // namespace tilvex::journal
