#pragma once
// The analysis of one run, without files: pass 1, the threshold, pass 2 and
// the bounds, with exactly the arithmetic of the command-line program.
//
// Two entry points share that arithmetic:
//  - analyse(text, ...) takes the bytes of a resample results file, read as
//    the program reads them (fields that do not parse carry over, blank
//    lines are records, and so on);
//  - analyse(best, resamples, ...) takes records a program holds as floats,
//    and gives what the first gives on a file whose lines all parse
//    completely into those floats.
// Both return the count, the threshold, the accepted resamples (indices in
// file order, with their solutions) and the bounds as floats; the two
// format functions make the texts the program appends to its result files.
//
//   tilvex::Result r = tilvex::analyse(best, resamples, 95.0f);
//   std::string summary = tilvex::format_summary(r);          // output_file
//   std::string lines = tilvex::format_accepted(r, {3, 7, 0, 1});  // output_file2
//
// Nothing here touches a file or keeps state between calls; the functions
// allocate about 4 bytes per resample, plus what a Result holds.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"

namespace tilvex {

// One analysis: how many resample records there were and how many were
// accepted, the confidence threshold (NaN when there was none) and the
// summary's values and bounds.
struct Analysis {
  std::size_t count = 0;
  std::size_t accepted = 0;  // resamples that reached the threshold
  float threshold = 0.0f;
  Summary summary;
  // From a text only: how many fields did not read as numbers (each kept
  // the value it had before), and where the first of them is.
  std::size_t unread_fields = 0;
  std::size_t first_unread_line = 0;  // from 1
  int first_unread_field = 0;         // from 1
};

// An analysis with its accepted resamples.
struct Result {
  Analysis analysis;
  std::vector<std::size_t> accepted;  // resample indices from 0, in file order
  std::vector<Solution> solutions;    // theirs, as read: before any reversal or wrapping
};

// The bytes of a resample results file, at `confidence_level` per cent. An
// empty text reads as a best-fit record of zeros and no resample.
Result analyse(std::string_view text, float confidence_level);

// The best-fit record and the resample records as floats, at
// `confidence_level` per cent.
Result analyse(const Record& best, std::span<const Record> resamples, float confidence_level);

// The summary line the program appends to output_file.
std::string format_summary(const Result& result);

// The accepted-resample lines the program appends to output_file2.
std::string format_accepted(const Result& result, const Grid& grid);

// Receives the accepted resamples one at a time, in file order, for
// callers that would rather not hold them all.
class AcceptedSink {
 public:
  virtual ~AcceptedSink() = default;
  // `index` counts resample records from 0; `solution` holds the values as
  // read, before any reversal or wrapping of an axis.
  virtual void accept(std::size_t index, const Solution& solution) = 0;
};

Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink);
Analysis analyse(const Record& best, std::span<const Record> resamples, float confidence_level,
                 AcceptedSink& sink);

}  // namespace tilvex
