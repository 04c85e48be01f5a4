#pragma once
// The two passes of a run over a source of records, as stages: pass 1 fills
// the similarity table, the threshold is picked from it, pass 2 accepts the
// resamples that reach it and accumulates their ranges. The program, the
// library's entry points and the benchmark all run these same functions.

#include <concepts>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "analysis/ranges.hpp"
#include "analysis/similarity.hpp"
#include "analysis/threshold.hpp"
#include "text/reader.hpp"
#include "tilvex/analyse.hpp"
#include "tilvex/records.hpp"

namespace tilvex::inline detail {

// Where the records of a run come from: the reader of a resample results
// file, or records a program holds as floats. The source is read twice.
template <typename S>
concept RecordSource = requires(S& source, const S& held, bool read_tensor) {
  // The best-fit record.
  { held.best() } -> std::same_as<const Record&>;
  // Pass 1: the next resample's tensor; null at the end, which fixes the
  // count n.
  { source.next_tensor() } -> std::same_as<const Components*>;
  // Back to the first resample, for pass 2.
  source.restart();
  // Whether pass 2 would read every tensor exactly as pass 1 did, so that
  // pass 1's similarities serve again.
  { held.tensors_repeat() } -> std::same_as<bool>;
  // Pass 2: the next of the n records; its tensor is read only if asked.
  { source.next_record(read_tensor) } -> std::same_as<const Record&>;
};

// Pass 1: the similarity of every resample to the best fit, in file order.
template <RecordSource Source>
std::vector<float> similarity_table(Source& source, const Similarity& similarity) {
  std::vector<float> table;
  while (const Components* tensor = source.next_tensor()) table.push_back(similarity(*tensor));
  return table;
}

// The threshold of a table, NaN (accepting nothing) for an empty one.
inline float pick_threshold(std::span<const float> table, float confidence_level) {
  return table.empty() ? std::numeric_limits<float>::quiet_NaN()
                       : confidence_threshold(table, confidence_level);
}

// Pass 2: the resamples whose similarity reaches `threshold` (never a NaN
// one) go into `ranges`, and `accept(index, solution)` is called for each,
// in file order, with its solution as read. Returns how many there were.
template <RecordSource Source, typename Accept>
std::size_t accept_pass(Source& source, const Similarity& similarity, std::span<const float> table,
                 float threshold, Ranges& ranges, Accept&& accept) {
  source.restart();
  const bool tensors_repeat = source.tensors_repeat();
  std::size_t accepted = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const Record& record = source.next_record(!tensors_repeat);
    // The same tensors give the same similarities.
    const float s = tensors_repeat ? table[i] : similarity(record.tensor);
    if (!(s >= threshold)) continue;  // NaN is never accepted
    ranges.take(record.solution);
    accept(i, record.solution);
    ++accepted;
  }
  return accepted;
}

// A whole analysis: pass 1, the threshold, pass 2 and the bounds.
template <RecordSource Source, typename Accept>
Analysis run_passes(Source& source, float confidence_level, Accept&& accept) {
  const Similarity similarity(source.best().tensor);
  Ranges ranges(source.best().solution);
  const std::vector<float> table = similarity_table(source, similarity);
  Analysis a;
  a.count = table.size();
  a.threshold = pick_threshold(table, confidence_level);
  a.accepted = accept_pass(source, similarity, table, a.threshold, ranges, accept);
  a.summary = ranges.finish();
  return a;
}

// The reader's count of fields that did not read as numbers.
inline Analysis with_unread(Analysis a, const ResampleReader& reader) {
  a.unread_fields = reader.unread().count;
  a.first_unread_line = reader.unread().first_line;
  a.first_unread_field = reader.unread().first_field;
  return a;
}

}  // namespace tilvex::inline detail
