#include "reader.hpp"

#include "scan.hpp"

namespace tilvex {

namespace {

// Lines are views into one text, so the scan may read on to its end.
int scan(std::string_view line, std::string_view text, float* fields, int count) {
  return scan_fields(line.data(), line.data() + line.size(), text.data() + text.size(), fields,
                     count);
}

int scan_tensor(std::string_view line, std::string_view text, Components& c) {
  return scan(line, text, c.s, 6);
}

void scan_solution(std::string_view line, std::string_view text, Solution& s) {
  float f[7] = {s.phi, s.axis[0].trend, s.axis[0].plunge, s.axis[1].trend,
                s.axis[1].plunge, s.axis[2].trend, s.axis[2].plunge};
  scan(line, text, f, 7);
  s.phi = f[0];
  for (int k = 0; k < 3; ++k) {
    s.axis[k].trend = f[1 + 2 * k];
    s.axis[k].plunge = f[2 + 2 * k];
  }
}

}  // namespace

ResampleReader::ResampleReader(std::string_view text) : text_(text), cursor_(text) {
  cursor_.next();
  scan_tensor(cursor_.line(), text_, best_.tensor);
  cursor_.next();
  scan_solution(cursor_.line(), text_, best_.solution);
}

const Components* ResampleReader::next_tensor() {
  if (!cursor_.next()) return nullptr;
  const int fields = scan_tensor(cursor_.line(), text_, resample_.tensor);
  if (!first_tensor_read_) {
    first_tensor_read_ = true;
    first_tensor_complete_ = fields == 6;
  }
  cursor_.next();
  return &resample_.tensor;
}

void ResampleReader::restart() {
  cursor_ = LineCursor(text_);
  cursor_.next();
  cursor_.next();
}

const Record& ResampleReader::next_record(bool read_tensor) {
  cursor_.next();
  if (read_tensor) scan_tensor(cursor_.line(), text_, resample_.tensor);
  cursor_.next();
  scan_solution(cursor_.line(), text_, resample_.solution);
  return resample_;
}

}  // namespace tilvex
