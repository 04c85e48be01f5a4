#include <cassert>
#include <exception>
#include <limits>
#include <memory>
#include <thread>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include "in_place.hpp"
#include "numeric/exact_float.hpp"
#include "passes.hpp"
#include "text/reader.hpp"
#include "text/scan.hpp"
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

// The reader's count of fields that did not read as numbers.
Analysis with_unread(Analysis a, const ResampleReader& reader) {
  a.unread_fields = reader.unread().count;
  a.first_unread_line = reader.unread().first_line;
  a.first_unread_field = reader.unread().first_field;
  return a;
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

inline namespace detail {

void InPlaceLines::add(const Solution& solution, std::size_t read) {
  // The lines never overtake what pass 2 has read of the text they overwrite.
  assert(overflowed_ || in_text_ <= read);
  char line[kMaxAcceptedLine];
  const auto length = static_cast<std::size_t>(prefix_.write(line, solution) - line);
  if (!overflowed_ && in_text_ + length <= read) {
    std::memcpy(text_.data() + in_text_, line, length);
    in_text_ += length;
  } else {
    overflowed_ = true;  // later lines must follow this one
    overflow_.append(line, length);
  }
}

namespace {

// Where the later half of a text may begin: the first line, from its
// middle on, that reads as a tensor line whole (six plain numbers, nothing
// else) followed by a solution line read whole (seven), within a few
// lines. Whether it is a record's first line is known only once the first
// half has been read. 0 if there is none.
std::size_t later_half(std::string_view text) {
  std::size_t at = text.find('\n', text.size() / 2);
  for (int tries = 0; tries < 8 && at != std::string_view::npos; ++tries) {
    const std::size_t start = at + 1, end = text.find('\n', start);
    if (end == std::string_view::npos) return 0;
    const std::size_t after = text.find('\n', end + 1);
    if (after == std::string_view::npos) return 0;
    float fields[7];
    bool plain = false, plain2 = false;
    const char* line = text.data() + start;
    const char* second = text.data() + end + 1;
    const char* last = text.data() + after + 1;
    if (scan_fields(line, second, last, fields, 6, plain) == 6 && plain &&
        scan_fields(second, last, last, fields, 7, plain2) == 7 && plain2)
      return start;
    at = end;
  }
  return 0;
}

// One half's reading, on its own reader, watcher, lines and ranges.
struct Half {
  std::unique_ptr<LineWatcher> watcher;
  std::optional<ResampleReader> reader;
  std::vector<float> table;
  std::optional<Ranges> ranges;
  std::size_t accepted = 0;
};

// Runs `later` on a thread of its own while `first` runs here; an
// exception in either comes out here once both are done. Without a thread
// to be had, the two run here in turn.
template <typename First, typename Later>
void together(First&& first, Later&& later) {
  std::exception_ptr failed;
  std::thread thread;
  try {
    thread = std::thread([&] {
      try {
        later();
      } catch (...) {
        failed = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    first();
    later();
    return;
  }
  try {
    first();
  } catch (...) {
    thread.join();
    throw;
  }
  thread.join();
  if (failed) std::rethrow_exception(failed);
}

// The run read as two halves at once, or nothing where the text does not
// split at a record whose lines read whole. Nothing is written in the text
// before the split is known to be sound.
std::optional<RunTexts> analyse_halves(std::span<char> text, float confidence_level, const Grid& grid,
                                       LineWatcher* watcher) {
  const std::string_view whole(text.data(), text.size());
  const std::size_t split = later_half(whole);
  if (split == 0) return std::nullopt;
  Half a, b;
  if (watcher != nullptr) {
    a.watcher = watcher->part();
    b.watcher = watcher->part();
    if (!a.watcher || !b.watcher) return std::nullopt;
  }
  a.reader.emplace(whole.substr(0, split), a.watcher.get());
  const Record best = a.reader->best();
  b.reader.emplace(whole.substr(split), best, b.watcher.get());
  const Similarity similarity(best.tensor);
  together([&] { a.table = similarity_table(*a.reader, similarity); },
           [&] { b.table = similarity_table(*b.reader, similarity); });
  // The split began a record if the first half holds whole records; the
  // later half's first record read whole, so it owes nothing to the first.
  const std::size_t first_lines = a.reader->line();
  if (first_lines % 2 != 0 || first_lines < 2 || !a.reader->tensors_repeat() || !b.reader->tensors_repeat())
    return std::nullopt;

  RunTexts out{{}, InPlaceLines(text.first(split), grid), InPlaceLines(text.subspan(split), grid), {}, {}};
  const std::span<const float> parts[] = {a.table, b.table};
  const float threshold = a.table.size() + b.table.size() == 0
                              ? std::numeric_limits<float>::quiet_NaN()
                              : confidence_threshold(parts, confidence_level);
  a.ranges.emplace(best.solution);
  b.ranges.emplace(best.solution);
  together(
      [&] {
        a.accepted = accept_pass(*a.reader, similarity, a.table, threshold, *a.ranges,
                                 [&](std::size_t, const Solution& s) { out.lines.add(s, a.reader->consumed()); });
      },
      [&] {
        b.accepted = accept_pass(*b.reader, similarity, b.table, threshold, *b.ranges,
                                 [&](std::size_t, const Solution& s) { out.later->add(s, b.reader->consumed()); });
      });
  a.ranges->join(*b.ranges);
  Analysis& r = out.analysis;
  r.count = a.table.size() + b.table.size();
  r.threshold = threshold;
  r.accepted = a.accepted + b.accepted;
  r.summary = a.ranges->finish();
  // The unread fields: the first half's first, if it has any.
  const UnreadFields &ua = a.reader->unread(), &ub = b.reader->unread();
  r.unread_fields = ua.count + ub.count;
  r.first_unread_line = ua.count > 0 ? ua.first_line : ub.count > 0 ? ub.first_line + first_lines : 0;
  r.first_unread_field = ua.count > 0 ? ua.first_field : ub.first_field;
  if (watcher != nullptr) {
    watcher->join(*a.watcher, 0);
    watcher->join(*b.watcher, first_lines);
  }
  append_summary_line(out.summary, r.summary);
  return out;
}

}  // namespace

RunTexts analyse_in_place(std::span<char> text, float confidence_level, const Grid& grid,
                          const InPlaceOptions& options) {
  if (options.threads >= 2 && !options.stress && text.size() >= options.halves_from)
    if (std::optional<RunTexts> halves = analyse_halves(text, confidence_level, grid, options.watcher))
      return std::move(*halves);
  RunTexts out{{}, InPlaceLines(text, grid), {}, {}, {}};
  ResampleReader reader(std::string_view(text.data(), text.size()), options.watcher);
  std::optional<StressRanges> ranges;
  if (options.stress) ranges.emplace(reader.best().solution);
  out.analysis = with_unread(run_passes(reader, confidence_level, [&](std::size_t, const Solution& s) {
    out.lines.add(s, reader.consumed());
    if (ranges) ranges->take(s);
  }), reader);
  if (ranges) out.stress = ranges->finish();
  append_summary_line(out.summary, out.analysis.summary);
  return out;
}

}  // namespace detail

}  // namespace tilvex
