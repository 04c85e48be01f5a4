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

// How many newlines `text` holds.
std::size_t count_lines(std::string_view text) {
  std::size_t lines = 0;
  for (const char *at = text.data(), *end = at + text.size();
       (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) != nullptr; ++at)
    ++lines;
  return lines;
}

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

// The similarities of one part's resamples, in pass-1 order: in a vector,
// or, for a large text, each in the bytes of its own tensor line, which
// pass 1 has read and pass 2 steps over: the float, then the distance to
// the next line that holds one (0 at the last). A record whose tensor line
// is too short for them, or has no solution line after it, keeps its
// similarity apart. Then pass 2 takes each from where it is, and the
// threshold reads them where they are.
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
        guess_after_(std::max<std::size_t>(guess_after, 1)),
        high_(in_text ? std::make_unique<KeyCounts>() : nullptr) {
    // Reserved at once, so that it never grows by copying; the pages are
    // taken as they are written.
    if (in_text) near_.reserve(64 * guess_after_);
  }

  // The similarity of the record `reader` has just read in pass 1.
  void add(float s, const ResampleReader& reader) {
    const std::uint32_t top = order_key(s) >> 16;
    ++(*high_)[top];
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
  // The counts by the top 16 bits of the keys (when in the text).
  const KeyCounts& high() const { return *high_; }
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
    found.reserve((*high_)[top]);
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
    const auto top_of = [&](std::size_t r) {
      std::uint32_t top = 0;
      while (r >= (*high_)[top]) r -= (*high_)[top++];
      return top;
    };
    near_low_ = top_of(low);
    near_high_ = top_of(high);
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
  std::unique_ptr<KeyCounts> high_;  // 512 KiB: on the heap, where running out of it is told
};

// One part's reading, on its own reader, watcher, lines and ranges.
struct Part {
  std::unique_ptr<LineWatcher> watcher;
  std::optional<ResampleReader> reader;
  std::optional<Similarities> similarities;
  std::optional<Ranges> ranges;
  std::size_t accepted = 0;

  // Pass 1: the similarity of every resample.
  void first_pass(const Similarity& similarity) {
    Similarities& t = *similarities;
    if (t.held()) {
      t.vector() = similarity_table(*reader, similarity);
      return;
    }
    while (const Components* tensor = reader->next_tensor()) t.add(similarity(*tensor), *reader);
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
// where there are none.
float threshold_of(std::span<const Part* const> parts, float confidence_level) {
  std::size_t n = 0;
  bool held = true;
  for (const Part* p : parts) {
    n += p->similarities->size();
    held = held && p->similarities->held();
  }
  if (n == 0) return std::numeric_limits<float>::quiet_NaN();
  if (held) {
    std::vector<std::span<const float>> tables;
    for (const Part* p : parts) tables.push_back(p->similarities->table());
    return confidence_threshold(tables, confidence_level);
  }
  auto high = std::make_unique<KeyCounts>();
  for (const Part* p : parts)
    for (std::size_t k = 0; k < high->size(); ++k) (*high)[k] += p->similarities->high()[k];
  const auto each = [&](const std::function<void(float)>& f) {
    for (const Part* p : parts) p->similarities->each(f);
  };
  // The values that share the threshold's top, each part's on a thread.
  const auto under = [&](std::uint32_t top) {
    std::vector<std::vector<float>> found(parts.size());
    if (parts.size() == 2)
      together([&] { found[0] = parts[0]->similarities->under(top); },
               [&] { found[1] = parts[1]->similarities->under(top); });
    else
      for (std::size_t k = 0; k < parts.size(); ++k) found[k] = parts[k]->similarities->under(top);
    return found;
  };
  return confidence_threshold(*high, n, confidence_level, each, under);
}

// The run read as two halves at once (with `halves`), or as one part, with
// the similarities in the text (with `in_text`); nothing where the text
// does not split at a record whose lines read whole, or where its first
// record's tensor line does not read whole (pass 2 would read the tensors
// again). Nothing is written in the text before that is known.
std::optional<RunTexts> analyse_parts(std::span<char> text, float confidence_level, const Grid& grid,
                                      LineWatcher* watcher, bool halves, bool in_text, std::size_t guess_after) {
  const std::string_view whole(text.data(), text.size());
  const std::size_t split = halves ? later_half(whole) : text.size();
  if (split == 0) return std::nullopt;
  Part a, b;
  if (watcher != nullptr && halves) {
    a.watcher = watcher->part();
    b.watcher = watcher->part();
    if (!a.watcher || !b.watcher) return std::nullopt;
  }
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
  const bool whole_first = first_whole(whole.substr(0, split), 2);
  if (!halves && !whole_first) return std::nullopt;
  if (halves && in_text && whole_first) {
    // Pass 1 writes in both halves: that the split begins a record (the
    // first half holds whole records) must be known first. Its lines are
    // counted as two quarters at once.
    const std::string_view first = whole.substr(0, split);
    std::size_t lines = 0, later_lines = 0;
    together([&] { lines = count_lines(first.substr(0, first.size() / 2)); },
             [&] { later_lines = count_lines(first.substr(first.size() / 2)); });
    if (lines += later_lines; lines % 2 != 0 || lines < 2)
      return std::nullopt;
  }
  LineWatcher* const watch_a = halves ? a.watcher.get() : watcher;
  a.reader.emplace(whole.substr(0, split), watch_a);
  const Record best = a.reader->best();
  const Similarity similarity(best.tensor);
  a.similarities.emplace(text.first(split), in_text && whole_first, confidence_level, guess_after);
  a.ranges.emplace(best.solution);
  if (halves) {
    b.reader.emplace(whole.substr(split), best, b.watcher.get());
    b.similarities.emplace(text.subspan(split), in_text && whole_first, confidence_level, guess_after);
    b.ranges.emplace(best.solution);
    together([&] { a.first_pass(similarity); }, [&] { b.first_pass(similarity); });
  } else {
    a.first_pass(similarity);
  }
  // The split began a record if the first half holds whole records; the
  // later half's first record read whole, so it owes nothing to the first.
  const std::size_t first_lines = a.reader->line();
  if (halves && (first_lines % 2 != 0 || first_lines < 2 || !a.reader->tensors_repeat() ||
                 !b.reader->tensors_repeat()))
    return std::nullopt;  // (nothing was written in the text: see above)

  RunTexts out{{}, InPlaceLines(text.first(split), grid), {}, {}, {}};
  if (halves) out.later.emplace(text.subspan(split), grid);
  const Part* parts[] = {&a, &b};
  const float threshold = threshold_of(std::span(parts, halves ? 2 : 1), confidence_level);
  if (halves)
    together([&] { a.second_pass(similarity, threshold, out.lines); },
             [&] { b.second_pass(similarity, threshold, *out.later); });
  else
    a.second_pass(similarity, threshold, out.lines);
  Analysis& r = out.analysis;
  r.count = a.similarities->size();
  r.accepted = a.accepted;
  r.threshold = threshold;
  const UnreadFields& ua = a.reader->unread();
  r.unread_fields = ua.count;
  r.first_unread_line = ua.first_line;
  r.first_unread_field = ua.first_field;
  if (halves) {
    a.ranges->join(*b.ranges);
    r.count += b.similarities->size();
    r.accepted += b.accepted;
    // The unread fields: the first half's first, if it has any.
    const UnreadFields& ub = b.reader->unread();
    r.unread_fields += ub.count;
    if (ua.count == 0 && ub.count > 0) {
      r.first_unread_line = ub.first_line + first_lines;
      r.first_unread_field = ub.first_field;
    }
    if (watcher != nullptr) {
      watcher->join(*a.watcher, 0);
      watcher->join(*b.watcher, first_lines);
    }
  }
  r.summary = a.ranges->finish();
  append_summary_line(out.summary, r.summary);
  return out;
}

}  // namespace

RunTexts analyse_in_place(std::span<char> text, float confidence_level, const Grid& grid,
                          const InPlaceOptions& options) {
  if (!options.stress) {
    const bool in_text = text.size() >= options.in_text_from;
    if (options.threads >= 2 && text.size() >= options.halves_from)
      if (std::optional<RunTexts> halves =
              analyse_parts(text, confidence_level, grid, options.watcher, true, in_text, options.guess_after))
        return std::move(*halves);
    if (in_text)
      if (std::optional<RunTexts> one =
              analyse_parts(text, confidence_level, grid, options.watcher, false, true, options.guess_after))
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
