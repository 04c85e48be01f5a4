#include "run.hpp"

#include <cstring>
#include <limits>
#include <vector>

#include "numeric/exact_float.hpp"
#include "ranges.hpp"
#include "reader.hpp"
#include "threshold.hpp"
#include "writer.hpp"

namespace tilvex {

namespace {

// Both passes. `accept(index, solution, consumed)` is called for every
// accepted resample, with the bytes of the text pass 2 has read so far.
template <typename Accept>
Analysis run_passes(std::string_view text, float confidence_level, Accept&& accept) {
  Analysis a;
  ResampleReader reader(text);
  const Similarity similarity(reader.best().tensor);
  Ranges ranges(reader.best().solution);

  std::vector<float> table;  // in file order
  while (reader.next_tensor()) table.push_back(similarity(reader.resample().tensor));
  a.count = table.size();
  a.threshold = a.count > 0 ? confidence_threshold(table, confidence_level)
                            : std::numeric_limits<float>::quiet_NaN();

  reader.restart();
  const bool tensors_repeat = reader.tensors_repeat();
  for (std::size_t i = 0; i < a.count; ++i) {
    float s;
    if (tensors_repeat) {  // the same tensors give the same similarities
      reader.next_solution();
      s = table[i];
    } else {
      reader.next_record();
      s = similarity(reader.resample().tensor);
    }
    if (!(s >= a.threshold)) continue;  // NaN is never accepted
    const Solution& solution = reader.resample().solution;
    ranges.take(solution);
    accept(i, solution, reader.consumed());
  }
  a.summary = ranges.finish();
  return a;
}

}  // namespace

Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink) {
  return run_passes(text, confidence_level,
                    [&](std::size_t i, const Solution& s, std::size_t) { sink.accept(i, s); });
}

RunTexts analyse_in_place(std::span<char> text, float confidence_level, const Grid& grid) {
  RunTexts out;
  char* const base = text.data();
  std::size_t used = 0;
  bool in_place = true;
  out.analysis = run_passes(
      std::string_view(text.data(), text.size()), confidence_level,
      [&](std::size_t, const Solution& s, std::size_t consumed) {
        // Pass 2 has read everything below `consumed` and never reads it
        // again, so lines go there while they fit.
        char line[kMaxAcceptedLine];
        const auto length = static_cast<std::size_t>(write_accepted_line(line, grid, s) - line);
        if (in_place && used + length <= consumed) {
          std::memcpy(base + used, line, length);
          used += length;
        } else {
          in_place = false;
          out.tail.append(line, length);
        }
      });
  out.head = std::string_view(base, used);
  append_summary_line(out.summary, out.analysis.summary);
  return out;
}

}  // namespace tilvex
