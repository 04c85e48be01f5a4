#include "reader.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scan.hpp"

namespace tilvex::inline detail {

namespace {

std::string_view first_line(std::string_view text) {
  const std::size_t end = text.find('\n');
  return end == std::string_view::npos ? text : text.substr(0, end + 1);
}

}  // namespace

std::string not_resample_results(std::string_view text) {
  float field = 0.0f;
  const std::string_view line = first_line(text);
  if (scan_fields(line.data(), line.data() + line.size(), &field, 1) == 1) return "";
  return line.find_first_not_of(" \t\n\v\f\r") == std::string_view::npos
             ? "its first line is blank"
             : "its first line does not begin with a number";
}

// 16 bytes at a time where there is SSE2: each newline adds 1 to its
// byte's count (a compare gives -1), and the counts, at most 255 a byte,
// are summed every 255 steps; a newline a line, as the lines of a resample
// file are short, costs memchr a call each.
std::size_t count_lines(std::string_view text) {
  std::size_t lines = 0;
  const char *at = text.data(), *const end = at + text.size();
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  while (end - at >= 16) {
    __m128i counts = _mm_setzero_si128();
    for (int k = 0; k < 255 && end - at >= 16; ++k, at += 16)
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), newline));
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());  // two sums of 8 bytes
    lines += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
  }
#endif
  for (; at != end; ++at) lines += *at == '\n' ? 1 : 0;
  return lines;
}

bool first_line_too_long(std::string_view text) {
  float fields[7];
  const std::string_view line = first_line(text);
  return scan_fields(line.data(), line.data() + line.size(), fields, 7) == 7;
}

void ResampleReader::note(int converted, int expected) {
  if (converted >= expected) return;
  unread_.count += static_cast<std::size_t>(expected - converted);
  if (unread_.first_line == 0 || cursor_.number() < unread_.first_line) {
    unread_.first_line = cursor_.number();
    unread_.first_field = converted + 1;
  }
}

// Lines are views into one text, so the scan may read on to its end.
int ResampleReader::scan(float* fields, int count, bool first) {
  const std::string_view line = cursor_.line();
  bool plain = false;
  const int converted = scan_fields(line.data(), line.data() + line.size(), text_.data() + text_.size(),
                                    fields, count, plain);
  if (first && watcher_ != nullptr) watcher_->scanned(cursor_.number(), line, fields, converted, plain);
  return converted;
}

int ResampleReader::scan_solution(Solution& s, bool first) {
  float f[7] = {s.phi, s.axis[0].trend, s.axis[0].plunge, s.axis[1].trend,
                s.axis[1].plunge, s.axis[2].trend, s.axis[2].plunge};
  const int converted = scan(f, 7, first);
  s.phi = f[0];
  for (int k = 0; k < 3; ++k) {
    s.axis[k].trend = f[1 + 2 * k];
    s.axis[k].plunge = f[2 + 2 * k];
  }
  return converted;
}

ResampleReader::ResampleReader(std::string_view text, LineWatcher* watcher)
    : text_(text), cursor_(text), watcher_(watcher) {
  const bool first = cursor_.next();
  note(scan_tensor(best_.tensor, first), 6);
  // A single line is scanned again as the solution: told once.
  const bool second = cursor_.next();
  note(scan_solution(best_.solution, second), 7);
}

ResampleReader::ResampleReader(std::string_view text, const Record& best, LineWatcher* watcher)
    : text_(text), cursor_(text), best_(best), watcher_(watcher), header_lines_(0) {}

const Components* ResampleReader::next_tensor() {
  if (!cursor_.next()) return nullptr;
  const int fields = scan_tensor(resample_.tensor, true);
  note(fields, 6);
  if (!first_tensor_read_) {
    first_tensor_read_ = true;
    first_tensor_complete_ = fields == 6;
  }
  tensor_line_ = cursor_.line();
  cut_ = !cursor_.next();
  return &resample_.tensor;
}

void ResampleReader::restart() {
  cursor_ = LineCursor(text_);
  for (int k = 0; k < header_lines_; ++k) cursor_.next();
}

const Record& ResampleReader::next_record(bool read_tensor, std::size_t skip) {
  cursor_.next(skip);
  if (read_tensor) scan_tensor(resample_.tensor, false);  // told in pass 1
  // A missing solution line is scanned from its tensor line: told once.
  const bool fresh = cursor_.next();
  note(scan_solution(resample_.solution, fresh), 7);
  return resample_;
}

}  // namespace tilvex::inline detail
