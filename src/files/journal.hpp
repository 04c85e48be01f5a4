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
//   commit <hex of the commit journal's path> <device> <inode of its folder>
//                                                 (the commit journal: "commit -")
//   file <device> <inode> <length> <hex of the file's absolute path>   (one a file)
//   check <16 hex digits: FNV-1a 64 of the lines above>
// A journal whose check does not match was torn: its writer died before
// its first output byte. Paths are the kernel's, with no symlink in them,
// and are opened without following one.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
  dev_t commit_folder_device = 0;  // and its folder's identity (0: not recorded)
  ino_t commit_folder_inode = 0;
  std::vector<FileEntry> files;
};

// The journal's name beside a file named `base` in the same folder.
std::string name_for(std::string_view base);

// The journal's path for a result file at `path` (absolute or not).
std::string path_for(const std::string& path);

std::string encode(const Journal& j);

// What a journal's bytes hold: a journal, or nothing if it is torn.
std::optional<Journal> decode(std::string_view text);

// What stands at a file's journal name.
enum class State {
  none,        // nothing
  torn,        // a regular file that is not a whole journal
  stale,       // a whole journal whose commit journal is gone: its append was committed
  hot,         // a whole journal of an append that did not finish
  in_the_way,  // a symlink, a file that is not regular, or one that cannot be read
};

struct Found {
  State state = State::none;
  Journal journal;  // hot: the commit journal's, which names every file of the append
  std::uint64_t tx = 0;  // the journal's own
  bool commit = false;   // it is the commit journal itself
  std::string commit_path;  // else: where its commit journal is
  uid_t owner = 0;  // of the file found
  dev_t device = 0;  // the file found, so that what is removed is what was read
  ino_t inode = 0;
  std::string why;  // in_the_way: what it is
};

// The one question of the protocol: what stands at the journal name of the
// file `base` in the open folder `folder`. Never follows a symlink, never
// waits on a FIFO. A commit journal is sought by the path the journal
// records, without following a symlink, and counts only if it has the same
// owner and transaction.
Found hot_journal(int folder, const std::string& base);

// Creates the journal of `base` in `folder`, never over an existing file
// and never through a symlink, and writes it whole (and syncs it and the
// folder if `sync`). False if it cannot; errno tells why.
bool create(int folder, const std::string& base, const Journal& j, bool sync);

// Removes the journal of `base` in `folder` if it is still the file `f`
// found there. False if it is there and cannot be removed.
bool remove(int folder, const std::string& base, const Found& f);

// Removes the journal at `path` (absolute; reached without following a
// symlink) if it is one of transaction `tx` written by `owner`, and syncs
// its folder if `sync`. False if it is and cannot be removed.
bool remove_at(const std::string& path, std::uint64_t tx, uid_t owner, bool sync);

// The length of the file `path` (identity `device`, `inode`, now `size`
// bytes) that is committed: the recorded length if a hot journal names it
// and its owner may write the file, else `size`. For readers, which then
// read only whole runs.
off_t committed_length(const std::string& path, dev_t device, ino_t inode, off_t size);

}  // namespace tilvex::journal
