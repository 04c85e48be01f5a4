#pragma once
// The list of a grid: one point a line, "input xgrid ygrid zgrid tgrid",
// blank-delimited. Blank lines and lines whose first non-blank character is
// '#' count for nothing.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tilvex/records.hpp"

namespace tilvex::grid {

struct Point {
  std::string input;  // the resample results file, as tilvex takes its name
  Grid grid;
  std::size_t line = 0;  // in the list, from 1
};

// Reads the whole list, the text of the file `name`: every point. Throws
// tilvex::Error (status 2) at the first malformed line, a line with other
// than five fields or an index that is not an int written plainly (an
// optional '-' and decimal digits, within the range of int), its reason
// naming the line: "NAME:LINE: field 3 is not an int: 1.5".
std::vector<Point> read_list(std::string_view text, const std::string& name);

// The K-th of N contiguous, near-equal slices of the points (0 <= K < N);
// the first parts take the extra points.
std::span<const Point> part_of(std::span<const Point> points, std::size_t k, std::size_t n);

// A fingerprint of the points (inputs and indices, in order), to tell one
// list from another when a grid resumes.
std::uint64_t fingerprint(std::span<const Point> points);

}  // namespace tilvex::grid
