#include "reader.hpp"

#include <cstdio>

namespace tilvex {

bool LineCursor::next() {
  if (pos_ >= text_.size()) return false;
  std::size_t end = text_.find('\n', pos_);
  end = (end == std::string_view::npos) ? text_.size() : end + 1;
  line_ = text_.substr(pos_, end - pos_);
  pos_ = end;
  return true;
}

int scan_fields(std::string_view line, float* f, int count) {
  // The standard scan wants a terminated string; a line is a view into the
  // whole text, so it is copied.
  thread_local std::string scratch;
  scratch.assign(line);
  const char* s = scratch.c_str();
  int got = 0;
  if (count == 6) {
    got = std::sscanf(s, "%f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
  } else {
    got = std::sscanf(s, "%f %f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5],
                      &f[6]);
  }
  return got < 0 ? 0 : got;
}

namespace {

void scan_tensor(std::string_view line, Components& c) { scan_fields(line, c.s, 6); }

void scan_solution(std::string_view line, Solution& s) {
  float f[7] = {s.phi, s.axis[0].trend, s.axis[0].plunge, s.axis[1].trend,
                s.axis[1].plunge, s.axis[2].trend, s.axis[2].plunge};
  scan_fields(line, f, 7);
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
  scan_tensor(cursor_.line(), resample_.tensor);
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

}  // namespace tilvex
