#pragma once
// The start of a grid: its result files and record opened and locked, what
// a run that died left rolled back, and the record read and settled.

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "files/result_files.hpp"
#include "options.hpp"
#include "progress.hpp"

namespace tilvex::grid {

inline constexpr int kOutput = -9003 & 0xff;   // 213, as tilvex
inline constexpr int kOutput2 = -4 & 0xff;     // 252

// The result files of a grid and its record (none beside an output_file
// that is not a regular file).
struct Files {
  ResultFile output, output2, record;
  bool keeps_record = false;
  Tell tell;  // what their appends tell the user
};

bool same_file(int a, int b);

bool write_text(ResultFile& file, std::string_view text, const Tell& tell);

// Each of these ends the grid before any work with a tilvex::Error: its
// status 213 or 252 (its fixed message "unable to open/write FILE") for a
// file that cannot be opened, locked or written, 2 for a record that
// stops the grid (its reason says why).

// Opens the result files, then the record, locked for the grid's life.
// Returns a note, in words, where no record can be kept (output_file is
// not a regular file), or empty.
std::string open_files(const Options& o, Files& f);

// Rolls back, under the locks, what a grid or run that died left in the
// files and the record, so that the record read next tells what is in
// the files. False if `stop` was set (to a signal number) while it waited
// for a lock: nothing was done.
bool roll_back(Files& f, const std::atomic<int>* stop);

// Reads the record and settles what this run does with it: goes on with
// it (the result then holds what is done) or begins it anew (an empty
// Progress).
Progress settle_record(const Options& o, const std::string& header, std::size_t total, Files& f);

}  // namespace tilvex::grid
