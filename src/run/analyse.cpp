#include "tilvex/analyse.hpp"

#include <cstring>
#include <limits>
#include <vector>

#include "numeric/exact_float.hpp"
#include "analysis/ranges.hpp"
#include "text/reader.hpp"
#include "analysis/threshold.hpp"
#include "text/writer.hpp"

namespace tilvex {

namespace {

// Records a program holds, read as a file whose lines all parse completely.
class RecordSource {
 public:
  RecordSource(const Record& best, std::span<const Record> resamples)
      : best_(best), resamples_(resamples) {}
  const Record& best() const { return best_; }
  bool next_tensor() {
    if (next_ == resamples_.size()) return false;
    current_ = &resamples_[next_++];
    return true;
  }
  void restart() { next_ = 0; }
  bool tensors_repeat() const { return true; }
  void next_solution() { current_ = &resamples_[next_++]; }
  void next_record() { next_solution(); }
  const Record& resample() const { return *current_; }
  std::size_t consumed() const { return 0; }

 private:
  const Record& best_;
  std::span<const Record> resamples_;
  std::size_t next_ = 0;
  const Record* current_ = nullptr;
};

// Both passes over a source of records (a ResampleReader or a
// RecordSource). `accept(index, solution, consumed)` is called for every
// accepted resample, with the bytes of the text pass 2 has read so far.
template <typename Source, typename Accept>
Analysis run_passes(Source& source, float confidence_level, Accept&& accept) {
  Analysis a;
  const Similarity similarity(source.best().tensor);
  Ranges ranges(source.best().solution);

  std::vector<float> table;  // in file order
  while (source.next_tensor()) table.push_back(similarity(source.resample().tensor));
  a.count = table.size();
  a.threshold = a.count > 0 ? confidence_threshold(table, confidence_level)
                            : std::numeric_limits<float>::quiet_NaN();

  source.restart();
  const bool tensors_repeat = source.tensors_repeat();
  for (std::size_t i = 0; i < a.count; ++i) {
    float s;
    if (tensors_repeat) {  // the same tensors give the same similarities
      source.next_solution();
      s = table[i];
    } else {
      source.next_record();
      s = similarity(source.resample().tensor);
    }
    if (!(s >= a.threshold)) continue;  // NaN is never accepted
    const Solution& solution = source.resample().solution;
    ranges.take(solution);
    accept(i, solution, source.consumed());
  }
  a.summary = ranges.finish();
  return a;
}

template <typename Source>
Analysis run_to_sink(Source& source, float confidence_level, AcceptedSink& sink) {
  return run_passes(source, confidence_level,
                    [&](std::size_t i, const Solution& s, std::size_t) { sink.accept(i, s); });
}

template <typename Source>
Result run_to_result(Source& source, float confidence_level) {
  Result r;
  r.analysis = run_passes(source, confidence_level,
                          [&](std::size_t i, const Solution& s, std::size_t) {
                            r.accepted.push_back(i);
                            r.solutions.push_back(s);
                          });
  return r;
}

}  // namespace

Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink) {
  ResampleReader reader(text);
  return run_to_sink(reader, confidence_level, sink);
}

Analysis analyse(const Record& best, std::span<const Record> resamples, float confidence_level,
                 AcceptedSink& sink) {
  RecordSource source(best, resamples);
  return run_to_sink(source, confidence_level, sink);
}

Result analyse(std::string_view text, float confidence_level) {
  ResampleReader reader(text);
  return run_to_result(reader, confidence_level);
}

Result analyse(const Record& best, std::span<const Record> resamples, float confidence_level) {
  RecordSource source(best, resamples);
  return run_to_result(source, confidence_level);
}

std::string format_summary(const Result& result) {
  std::string out;
  append_summary_line(out, result.analysis.summary);
  return out;
}

std::string format_accepted(const Result& result, const Grid& grid) {
  std::string out;
  out.reserve(result.solutions.size() * 80);
  for (const Solution& s : result.solutions) append_accepted_line(out, grid, s);
  return out;
}

RunTexts analyse_in_place(std::span<char> text, float confidence_level, const Grid& grid) {
  RunTexts out;
  char* const base = text.data();
  std::size_t used = 0;
  bool in_place = true;
  ResampleReader reader(std::string_view(text.data(), text.size()));
  out.analysis = run_passes(
      reader, confidence_level,
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
