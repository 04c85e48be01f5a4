#pragma once
// The commit of a batch: what one locked, all-or-nothing append writes for
// several points, so that the files read as a loop of tilvex runs leaves
// them, and the record names exactly the points whose results are in.

#include <span>
#include <string_view>
#include <vector>

#include "files/result_files.hpp"

namespace tilvex::grid {

// One point of a batch, as its commit sees it.
struct AnalysedPoint {
  bool analysed = false;  // false: it failed, and appends only its row
  std::span<const std::string_view> lines;  // its accepted-resample lines, for output_file2
  std::string_view summary;  // its summary line, for output_file
  std::string_view row;      // its row of the record
};

// Where the batch goes: output_file, output_file2 and the record (null
// where none is kept); `one_file` where both outputs are one file.
struct CommitFiles {
  ResultFile* output;
  ResultFile* output2;
  ResultFile* record;
  bool one_file = false;
};

// The targets of one batch, in order, and the pieces they point into.
// The targets' spans point into `pieces` and the pieces into the batch:
// both must outlive the append (a move keeps them valid).
struct Commit {
  std::vector<std::string_view> pieces;
  std::vector<AppendTarget> targets;
};

// Separate files: every analysed point's lines to output_file2, then every
// summary to output_file. One file for both: its lines, then its summary,
// point by point. Then every row, failed points' too, to the record.
// Allocates; writes nothing.
Commit commit_of(std::span<const AnalysedPoint> batch, const CommitFiles& files);

}  // namespace tilvex::grid
