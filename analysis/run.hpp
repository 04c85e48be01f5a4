#pragma once
// One analysis of a resample results file held in memory: pass 1, the
// threshold, pass 2 and the summary, with the arithmetic of the command-line
// program.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "records.hpp"

namespace tilvex {

// Receives the accepted resamples of pass 2, in file order.
class AcceptedSink {
 public:
  virtual ~AcceptedSink() = default;
  // `index` counts resample records from 0; `solution` holds the values as
  // read, before any reversal or wrapping of an axis.
  virtual void accept(std::size_t index, const Solution& solution) = 0;
};

struct Analysis {
  std::size_t count = 0;   // resample records in the file
  float threshold = 0.0f;  // confidence threshold; NaN when there is no resample
  Summary summary;
};

// Analyses `text`, the whole content of a resample results file, at
// `confidence_level` per cent, and hands every accepted resample to `sink`.
// An empty text reads as a best-fit record of zeros and no resample.
// Allocates about 4 bytes per resample record.
Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink);

// What one run appends: the accepted-resample lines, `head` then `tail`,
// and the summary line.
struct RunTexts {
  Analysis analysis;
  std::string_view head;
  std::string tail;
  std::string summary;
};

// As analyse, for a text the caller gives up: the accepted-resample lines
// for `grid` are formatted into the part of `text` that pass 2 has already
// read, so they take no memory of their own while each is shorter than what
// was read before it; from the first that is not, they go to `tail`. `head`
// views the start of `text`, whose content is otherwise lost.
RunTexts analyse_in_place(std::span<char> text, float confidence_level, const Grid& grid);

}  // namespace tilvex
