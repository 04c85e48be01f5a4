#include "reader.hpp"

#include "scan.hpp"

namespace tilvex {

bool LineCursor::next() {
  if (pos_ >= text_.size()) return false;
  std::size_t end = text_.find('\n', pos_);
  end = (end == std::string_view::npos) ? text_.size() : end + 1;
  line_ = text_.substr(pos_, end - pos_);
  pos_ = end;
  return true;
}

namespace {

int scan(std::string_view line, float* fields, int count) {
  return scan_fields(line.data(), line.data() + line.size(), fields, count);
}

int scan_tensor(std::string_view line, Components& c) { return scan(line, c.s, 6); }

void scan_solution(std::string_view line, Solution& s) {
  float f[7] = {s.phi, s.axis[0].trend, s.axis[0].plunge, s.axis[1].trend,
                s.axis[1].plunge, s.axis[2].trend, s.axis[2].plunge};
  scan(line, f, 7);
  s.phi = f[0];
  for (int k = 0; k < 3; ++k) {
    s.axis[k].trend = f[1 + 2 * k];
    s.axis[k].plunge = f[2 + 2 * k];
  }
}

}  // namespace

ResampleReader::ResampleReader(std::string_view text) : text_(text), cursor_(text) {
  cursor_.next();
  scan_tensor(cursor_.line(), best_.tensor);
  cursor_.next();
  scan_solution(cursor_.line(), best_.solution);
}

bool ResampleReader::next_tensor() {
  if (!cursor_.next()) return false;
  const int fields = scan_tensor(cursor_.line(), resample_.tensor);
  if (!first_tensor_read_) {
    first_tensor_read_ = true;
    first_tensor_complete_ = fields == 6;
  }
  cursor_.next();
  return true;
}

void ResampleReader::restart() {
  cursor_ = LineCursor(text_);
  cursor_.next();
  cursor_.next();
}

void ResampleReader::next_record() {
  cursor_.next();
  scan_tensor(cursor_.line(), resample_.tensor);
  cursor_.next();
  scan_solution(cursor_.line(), resample_.solution);
}

void ResampleReader::next_solution() {
  cursor_.next();
  cursor_.next();
  scan_solution(cursor_.line(), resample_.solution);
}

}  // namespace tilvex
