#include "run.hpp"

#include <limits>
#include <vector>

#include "numeric/exact_float.hpp"
#include "ranges.hpp"
#include "reader.hpp"
#include "threshold.hpp"

namespace tilvex {

Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink) {
  Analysis a;
  ResampleReader reader(text);
  const Similarity similarity(reader.best().tensor);
  Ranges ranges(reader.best().solution);

  std::vector<float> table;
  while (reader.next_tensor()) table.push_back(similarity(reader.resample().tensor));
  a.count = table.size();
  a.threshold = a.count > 0 ? confidence_threshold(table, confidence_level)
                            : std::numeric_limits<float>::quiet_NaN();

  reader.restart();
  for (std::size_t i = 0; i < a.count; ++i) {
    reader.next_record();
    const Record& r = reader.resample();
    if (!(similarity(r.tensor) >= a.threshold)) continue;  // NaN is never accepted
    ranges.take(r.solution);
    sink.accept(i, r.solution);
  }
  a.summary = ranges.finish();
  return a;
}

}  // namespace tilvex
