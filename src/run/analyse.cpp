#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "passes.hpp"
#include "text/reader.hpp"
#include "text/writer.hpp"
#include "tilvex/analyse.hpp"

namespace tilvex {

namespace {

// Records a program holds, read as a file whose lines all parse completely.
class HeldRecords {
 public:
  HeldRecords(const Record& best, std::span<const Record> resamples)
      : best_(best), resamples_(resamples) {}
  const Record& best() const { return best_; }
  const Components* next_tensor() {
    return pass1_next_ < resamples_.size() ? &resamples_[pass1_next_++].tensor : nullptr;
  }
  void restart() { pass2_next_ = 0; }
  bool tensors_repeat() const { return true; }
  const Record& next_record(bool) { return resamples_[pass2_next_++]; }

 private:
  const Record& best_;
  std::span<const Record> resamples_;
  std::size_t pass1_next_ = 0, pass2_next_ = 0;
};
static_assert(RecordSource<HeldRecords>);
static_assert(RecordSource<ResampleReader>);

template <typename Source>
Analysis run_to_sink(Source& source, float confidence_level, AcceptedSink& sink) {
  return run_passes(source, confidence_level,
                    [&](std::size_t i, const Solution& s) { sink.accept(i, s); });
}

template <typename Source>
Result run_to_result(Source& source, float confidence_level) {
  Result r;
  r.analysis = run_passes(source, confidence_level, [&](std::size_t i, const Solution& s) {
    r.accepted.push_back(i);
    r.solutions.push_back(s);
  });
  return r;
}


}  // namespace

Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink) {
  ResampleReader reader(text);
  return with_unread(run_to_sink(reader, confidence_level, sink), reader);
}

Analysis analyse(const Record& best, std::span<const Record> resamples, float confidence_level,
                 AcceptedSink& sink) {
  HeldRecords source(best, resamples);
  return run_to_sink(source, confidence_level, sink);
}

Result analyse(std::string_view text, float confidence_level) {
  ResampleReader reader(text);
  Result r = run_to_result(reader, confidence_level);
  r.analysis = with_unread(r.analysis, reader);
  return r;
}

Result analyse(const Record& best, std::span<const Record> resamples, float confidence_level) {
  HeldRecords source(best, resamples);
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
}  // namespace tilvex
