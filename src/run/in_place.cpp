#include "in_place.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/threshold.hpp"
#include "passes.hpp"
#include "together.hpp"
#include "text/reader.hpp"
#include "text/scan.hpp"
#include "text/writer.hpp"

namespace tilvex::inline detail {

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

// Where a later part of a text may begin: the first line after the one
// that holds byte `from`, that reads as a tensor line whole (six plain
// numbers, nothing else) followed by a solution line read whole (seven),
// within a few lines. Whether it is a record's first line is known only
// once the parts before it have been read. 0 if there is none.
std::size_t part_start(std::string_view text, std::size_t from) {
  std::size_t at = text.find('\n', from);
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

// Where each of up to `parts` parts of a text begins, from 0: near each
// `parts`th of its bytes, at part_start's lines. Fewer where there are
// none (one part if there are none at all).
std::vector<std::size_t> part_starts(std::string_view text, std::size_t parts) {
  std::vector<std::size_t> starts{0};
  for (std::size_t k = 1; k < parts; ++k) {
    const std::size_t from = text.size() / parts * k;
    if (from < starts.back()) continue;
    if (const std::size_t at = part_start(text, from); at > starts.back()) starts.push_back(at);
  }
  return starts;
}

// The similarities of one part's resamples, in pass-1 order: in a vector,
// or, for a large text, each in the bytes of its own tensor line, which
// pass 1 has read and pass 2 steps over: the float, then the distance to
// the next line that holds one (0 at the last). A record whose tensor line
// is too short for them, or has no solution line after it, keeps its
// similarity apart. Then pass 2 takes each from where it is, and the
// threshold reads them where they are.
//
// With them in the text, the counts of the keys' tops go to counts the
// caller gives each time (a thread's, over the parts it read).
//
// The threshold reads them where they are only where a part's guess fails:
// each part also keeps a copy of its first `guess_after` similarities, and
// after them of those whose keys' tops lie between those of the ranks a
// little below and a little above the threshold's rank among the first.
// Resamples come in no order, so the threshold's top is almost always
// among them.
class Similarities {
 public:
  Similarities(std::span<char> text, bool in_text, float confidence_level, std::size_t guess_after)
      : text_(text),
        in_text_(in_text),
        level_(confidence_level),
        guess_after_(std::max<std::size_t>(guess_after, 1)) {
    // Reserved at once, so that it never grows by copying; the pages are
    // taken as they are written.
    if (in_text) near_.reserve(64 * guess_after_);
  }

  // The similarity of the record `reader` has just read in pass 1, its
  // key's top counted in `high`.
  void add(float s, const ResampleReader& reader, KeyCounts& high) {
    const std::uint32_t top = order_key(s) >> 16;
    ++high[top];
    keep_if_near(s, top);
    const std::string_view line = reader.tensor_line();
    const auto at = static_cast<std::size_t>(line.data() - text_.data());
    if (!in_text_ || reader.cut() || line.size() < kHeld + 1 || line.back() != '\n' ||
        (last_ != kNone && at - last_ > std::numeric_limits<std::uint32_t>::max())) {
      apart_.push_back({count_++, s});
      return;
    }
    std::memcpy(text_.data() + at, &s, sizeof s);
    const std::uint32_t end = 0;
    std::memcpy(text_.data() + at + 4, &end, 4);
    if (last_ != kNone) {
      const auto step = static_cast<std::uint32_t>(at - last_);
      std::memcpy(text_.data() + last_ + 4, &step, 4);
    } else {
      first_ = at;
    }
    last_ = at;
    ++count_;
  }

  std::size_t size() const { return in_text_ ? count_ : table_.size(); }
  bool held() const { return !in_text_; }
  // The vector of the similarities (when not in the text).
  std::span<const float> table() const { return table_; }

  // Pass 2: the similarity of record `index`, whose tensor line begins at
  // `at`, and how many bytes of the line it takes (its newline is after).
  float take(std::size_t index, std::size_t at, std::size_t& skip) {
    if (next_apart_ < apart_.size() && apart_[next_apart_].first == index) {
      skip = 0;
      return apart_[next_apart_++].second;
    }
    skip = kHeld;
    float s;
    std::memcpy(&s, text_.data() + at, sizeof s);
    return s;
  }

  // f(s) for every similarity, in order.
  template <typename F>
  void each(F&& f) const {
    std::size_t apart = 0, at = first_;
    for (std::size_t i = 0; i < count_; ++i) {
      if (apart < apart_.size() && apart_[apart].first == i) {
        f(apart_[apart++].second);
        continue;
      }
      float s;
      std::uint32_t step;
      std::memcpy(&s, text_.data() + at, sizeof s);
      std::memcpy(&step, text_.data() + at + 4, 4);
      f(s);
      at += step;
    }
  }

  // The similarities whose order keys' top 16 bits are `top`, in order:
  // from those kept near the guess, if `top` is among theirs.
  std::vector<float> under(std::uint32_t top) const {
    std::vector<float> found;
    const auto take = [&](float s) {
      if (order_key(s) >> 16 == top) found.push_back(s);
    };
    if (!lost_ && (count_ <= guess_after_ || top - near_low_ <= near_high_ - near_low_)) {
      for (float s : near_) take(s);
      return found;
    }
    each(take);
    return found;
  }

  // For the vector: pass 1 fills it.
  std::vector<float>& vector() { return table_; }

 private:
  static constexpr std::size_t kHeld = 8;  // bytes of a line that hold a similarity and a step
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

  // Keeps s (its key's top is `top`) while it is among the first, or near
  // the guess; makes the guess after the first.
  void keep_if_near(float s, std::uint32_t top) {
    if (count_ < guess_after_) {
      near_.push_back(s);
      if (count_ + 1 == guess_after_) guess();
    } else if (top - near_low_ <= near_high_ - near_low_ && !lost_) {
      if (near_.size() == 64 * guess_after_) {  // 4 MiB, by default
        lost_ = true;
        near_ = {};
      } else {
        near_.push_back(s);
      }
    }
  }

  // The tops of the keys of the ranks a 32nd of the first (and 64) below
  // and above the threshold's rank among them: for resamples in no order,
  // many times the spread of that rank's share of the whole.
  void guess() {
    const std::size_t n = guess_after_, rank = threshold_index(level_, n), margin = n / 32 + 64;
    const std::size_t low = rank > margin ? rank - margin : 0, high = std::min(rank + margin, n - 1);
    std::vector<std::uint32_t> keys(near_.size());
    std::transform(near_.begin(), near_.end(), keys.begin(), order_key);
    std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(low), keys.end());
    near_low_ = keys[low] >> 16;
    std::nth_element(keys.begin() + static_cast<std::ptrdiff_t>(low), keys.begin() + static_cast<std::ptrdiff_t>(high),
                     keys.end());
    near_high_ = keys[high] >> 16;
  }

  std::span<char> text_;
  bool in_text_;
  float level_;
  std::size_t guess_after_;
  std::vector<float> near_;  // the first similarities, then those near the guess
  std::uint32_t near_low_ = 0, near_high_ = 0;
  bool lost_ = false;  // too many were near: none are kept
  std::vector<float> table_;
  std::vector<std::pair<std::size_t, float>> apart_;
  std::size_t next_apart_ = 0;
  std::size_t count_ = 0, first_ = kNone, last_ = kNone;
};

// One part's reading, on its own reader, watcher, lines and ranges.
struct Part {
  std::unique_ptr<LineWatcher> watcher;
  std::optional<ResampleReader> reader;
  std::optional<Similarities> similarities;
  std::optional<Ranges> ranges;
  std::size_t accepted = 0;

  // Pass 1: the similarity of every resample (their keys' tops counted in
  // `high` where they go in the text).
  void first_pass(const Similarity& similarity, KeyCounts* high) {
    Similarities& t = *similarities;
    if (t.held()) {
      t.vector() = similarity_table(*reader, similarity);
      return;
    }
    while (const Components* tensor = reader->next_tensor()) t.add(similarity(*tensor), *reader, *high);
  }

  // Pass 2: the resamples that reach `threshold`, to `lines`.
  void second_pass(const Similarity& similarity, float threshold, InPlaceLines& lines) {
    Similarities& t = *similarities;
    const auto accept = [&](std::size_t, const Solution& s) { lines.add(s, reader->consumed()); };
    if (t.held()) {
      accepted = accept_pass(*reader, similarity, t.table(), threshold, *ranges, accept);
      return;
    }
    // As accept_pass, each similarity taken from where pass 1 left it.
    reader->restart();
    for (std::size_t i = 0; i < t.size(); ++i) {
      std::size_t skip = 0;
      const float s = t.take(i, reader->consumed(), skip);
      const Record& record = reader->next_record(false, skip);
      if (!(s >= threshold)) continue;  // NaN is never accepted
      ranges->take(record.solution);
      accept(i, record.solution);
      ++accepted;
    }
  }
};

// The threshold over the parts' similarities, NaN (accepting nothing)
// where there are none; `high` counts the keys' tops of all the parts
// where their similarities are in the text.
float threshold_of(const std::vector<Part>& parts, const KeyCounts* high, float confidence_level) {
  std::size_t n = 0;
  bool held = true;
  for (const Part& p : parts) {
    n += p.similarities->size();
    held = held && p.similarities->held();
  }
  if (n == 0) return std::numeric_limits<float>::quiet_NaN();
  if (held) {
    std::vector<std::span<const float>> tables;
    for (const Part& p : parts) tables.push_back(p.similarities->table());
    return confidence_threshold(tables, confidence_level);
  }
  const auto each = [&](const std::function<void(float)>& f) {
    for (const Part& p : parts) p.similarities->each(f);
  };
  // The values that share the threshold's top, the parts' on two threads.
  const auto under = [&](std::uint32_t top) {
    std::vector<std::vector<float>> found(parts.size());
    together_each(parts.size(), [&](std::size_t k, int) { found[k] = parts[k].similarities->under(top); });
    return found;
  };
  return confidence_threshold(*high, n, confidence_level, each, under);
}

// The run read as up to `pieces` parts on two threads, or as one part
// (with 1), with the similarities in the text (with `in_text`); nothing
// where the text does not split at records whose lines read whole, or
// where its first record's tensor line does not read whole (pass 2 would
// read the tensors again). Nothing is written in the text before that is
// known.
std::optional<RunTexts> analyse_parts(std::span<char> text, float confidence_level, const Grid& grid,
                                      LineWatcher* watcher, std::size_t pieces, bool in_text,
                                      std::size_t guess_after) {
  const std::string_view whole(text.data(), text.size());
  std::vector<std::size_t> starts = part_starts(whole, pieces);
  const bool apart = pieces > 1;
  if (apart && starts.size() == 1) return std::nullopt;
  starts.push_back(text.size());
  const std::size_t n = starts.size() - 1;  // parts
  const auto text_of = [&](std::size_t k) { return text.subspan(starts[k], starts[k + 1] - starts[k]); };
  const auto view_of = [&](std::size_t k) { return whole.substr(starts[k], starts[k + 1] - starts[k]); };
  std::vector<Part> parts(n);
  if (watcher != nullptr && apart)
    for (Part& p : parts)
      if (!(p.watcher = watcher->part())) return std::nullopt;
  // Whether the first resample's tensor line reads whole is known before
  // the reader tells a watcher of any line: the similarities go into the
  // text only then.
  const auto first_whole = [](std::string_view part, std::size_t skip) {
    LineCursor lines(part);
    for (std::size_t k = 0; k < skip; ++k) lines.next();
    if (!lines.next()) return false;
    float fields[6];
    return scan_fields(lines.line().data(), lines.line().data() + lines.line().size(), fields, 6) == 6;
  };
  const bool whole_first = first_whole(view_of(0), 2);
  if (!apart && !whole_first) return std::nullopt;
  const bool write = in_text && whole_first;
  if (apart && write) {
    // Pass 1 writes in every part: that each later part begins a record
    // (the parts before it hold whole records) must be known first.
    std::vector<std::size_t> lines(n - 1);
    together_each(n - 1, [&](std::size_t k, int) { lines[k] = count_lines(view_of(k)); });
    for (const std::size_t l : lines)
      if (l % 2 != 0 || l < 2) return std::nullopt;
  }
  parts[0].reader.emplace(view_of(0), apart ? parts[0].watcher.get() : watcher);
  const Record best = parts[0].reader->best();
  const Similarity similarity(best.tensor);
  for (std::size_t k = 0; k < n; ++k) {
    Part& p = parts[k];
    if (k > 0) p.reader.emplace(view_of(k), best, p.watcher.get());
    p.similarities.emplace(text_of(k), write, confidence_level, guess_after);
    p.ranges.emplace(best.solution);
  }
  // Each thread's counts of the keys' tops; 512 KiB each, on the heap,
  // where running out of it is told.
  std::unique_ptr<KeyCounts> high[2];
  if (write)
    for (std::size_t t = 0; t < std::min<std::size_t>(n, 2); ++t) high[t] = std::make_unique<KeyCounts>();
  together_each(n, [&](std::size_t k, int thread) { parts[k].first_pass(similarity, high[thread].get()); });
  // Each later part began a record if the parts before it hold whole
  // records; each later part's first record read whole, so it owes
  // nothing to those before.
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t l = parts[k].reader->line();
    if (apart && ((k + 1 < n && (l % 2 != 0 || l < 2)) || !parts[k].reader->tensors_repeat()))
      return std::nullopt;  // (nothing was written in the text: see above)
  }

  RunTexts out{{}, InPlaceLines(text_of(0), grid), {}, {}, {}};
  out.later.reserve(n - 1);
  for (std::size_t k = 1; k < n; ++k) out.later.emplace_back(text_of(k), grid);
  if (write && n > 1)
    for (std::size_t t = 0; t < high[0]->size(); ++t) (*high[0])[t] += (*high[1])[t];
  const float threshold = threshold_of(parts, high[0].get(), confidence_level);
  together_each(n, [&](std::size_t k, int) {
    parts[k].second_pass(similarity, threshold, k == 0 ? out.lines : out.later[k - 1]);
  });
  Analysis& r = out.analysis;
  r.threshold = threshold;
  std::size_t lines_before = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const Part& p = parts[k];
    r.count += p.similarities->size();
    r.accepted += p.accepted;
    if (k > 0) parts[0].ranges->join(*p.ranges);
    // The unread fields: the first part's with any first.
    const UnreadFields& u = p.reader->unread();
    if (r.unread_fields == 0 && u.count > 0) {
      r.first_unread_line = u.first_line + lines_before;
      r.first_unread_field = u.first_field;
    }
    r.unread_fields += u.count;
    if (apart && watcher != nullptr) watcher->join(*p.watcher, lines_before);
    lines_before += p.reader->line();
  }
  r.summary = parts[0].ranges->finish();
  append_summary_line(out.summary, r.summary);
  return out;
}

}  // namespace

RunTexts analyse_in_place(std::span<char> text, float confidence_level, const Grid& grid,
                          const InPlaceOptions& options) {
  if (!options.stress) {
    const bool in_text = text.size() >= options.in_text_from;
    if (options.threads >= 2 && options.parts >= 2 && text.size() >= options.parts_from)
      if (std::optional<RunTexts> parts = analyse_parts(text, confidence_level, grid, options.watcher,
                                                        options.parts, in_text, options.guess_after))
        return std::move(*parts);
    if (in_text)
      if (std::optional<RunTexts> one =
              analyse_parts(text, confidence_level, grid, options.watcher, 1, true, options.guess_after))
        return std::move(*one);
  }
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

}  // namespace tilvex::inline detail
