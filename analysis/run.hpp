#pragma once
// One analysis of a resample results file held in memory: pass 1, the
// threshold, pass 2 and the summary, with the arithmetic of the command-line
// program.

#include <cstddef>
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
  std::size_t count = 0;  // resample records in the file
  float threshold = 0.0f;  // confidence threshold; NaN when there is no resample
  Summary summary;
};

// Analyses `text`, the whole content of a resample results file, at
// `confidence_level` per cent, and hands every accepted resample to `sink`.
// An empty text reads as a best-fit record of zeros and no resample.
Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink);

}  // namespace tilvex
