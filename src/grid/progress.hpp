#pragma once
// The record of a grid's progress, kept beside output_file: a header that
// names the grid, then the table row of every point whose results are in
// the files, each followed by its warnings (one line each, beginning with a
// tab, which no row does), appended with them under the same locks, then
// "complete" once the whole part is done. A grid that was stopped, or killed outright,
// resumes from it; the merge of a cluster's parts checks it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tilvex::grid {

// The header of a grid's record: the number of points of this part, a
// fingerprint of them, the confidence level as given and the part.
std::string progress_header(std::size_t points, std::uint64_t fingerprint, std::string_view level,
                            std::size_t part_k, std::size_t part_n);

struct Progress {
  std::string header;  // with its newline
  std::size_t done = 0;  // points whose rows are recorded
  std::size_t failed = 0;  // of those, the points that failed (status not "ok")
  std::string rows;    // those rows, without their warnings
  std::vector<std::vector<std::string>> warnings;  // each row's, in words
  std::size_t narrow = 0;  // rows of fewer columns than the table has now (an older grid's)
  std::size_t length = 0;  // bytes of the header and the whole rows
  bool complete = false;
};

// Reads a record; empty if the text is not one.
std::optional<Progress> read_progress(std::string_view text);

// The lines that record a point's warnings after its row: "\twarning\t"
// and the text, its line breaks made blanks.
std::string warning_lines(const std::vector<std::string>& texts);

inline constexpr std::string_view kComplete = "complete\n";

}  // namespace tilvex::grid
