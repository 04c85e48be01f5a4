#include "health.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "text/reader.hpp"

namespace tilvex::formats {

namespace {

// Bytes as the scan parts them: blanks between tokens, and the characters
// of a plain decimal (digits, '.', a sign) apart from all others.
enum : unsigned char { kBlank = 0, kPlain = 1, kOther = 2 };
constexpr std::array<unsigned char, 256> kClass = [] {
  std::array<unsigned char, 256> c{};
  c.fill(kOther);
  for (unsigned char b : {' ', '\t', '\v', '\f', '\r'}) c[b] = kBlank;
  for (unsigned char b = '0'; b <= '9'; ++b) c[b] = kPlain;
  for (unsigned char b : {'.', '+', '-'}) c[b] = kPlain;
  return c;
}();

bool digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The float the standard "%f" scan reads from the start of `t`, or none.
std::optional<float> read_value(std::string_view t) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  float v = 0.0f;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  const bool hex = t.find_first_of("xX") != std::string_view::npos;
  if (r.ec == std::errc() && !hex) return v;
  if (r.ec == std::errc::invalid_argument && !hex) return std::nullopt;
  // Out of range (overflow to inf, underflow towards 0) or hexadecimal:
  // the C library's own conversion, on a copy that ends.
  const std::string s(t);
  char* end = nullptr;
  const float w = std::strtof(s.c_str(), &end);
  if (end == s.c_str()) return std::nullopt;
  return w;
}

// Whether the token `t` reads as a value outside [lo, hi] (lo and hi are
// integers, lo <= 0 < hi). A plain decimal is decided from its text where
// its integer part settles it; else, and at the bounds, it is read.
bool outside(std::string_view t, bool plain, int lo, int hi) {
  if (plain) {
    std::size_t i = 0;
    const bool negative = t[0] == '-';
    if (t[0] == '-' || t[0] == '+') i = 1;
    unsigned whole = 0;  // the integer part, capped
    bool digits = false, fraction = false;
    for (; i < t.size() && digit(t[i]); ++i) {
      digits = true;
      whole = std::min(whole * 10 + static_cast<unsigned>(t[i] - '0'), 1000u);
    }
    if (i < t.size() && t[i] == '.')
      for (++i; i < t.size() && digit(t[i]); ++i) {
        digits = true;
        fraction = fraction || t[i] != '0';
      }
    if (digits && i == t.size()) {
      const unsigned bound = static_cast<unsigned>(negative ? -lo : hi);
      if (whole < bound || (whole == bound && !fraction)) return false;
      if (whole > bound) return true;
    }
  }
  const std::optional<float> v = read_value(t);
  return v && (*v < static_cast<float>(lo) || *v > static_cast<float>(hi));
}

// What one line holds, as far as the checks need it.
struct LineFacts {
  int tokens = 0;
  bool nonfinite = false;
  bool phi = false;     // phi outside [0, 1] (a solution line's first token)
  bool plunge = false;  // a plunge outside [-90, 90] (its 3rd, 5th or 7th)
};

LineFacts look_at(const char* p, const char* end, bool solution) {
  LineFacts f;
  for (;;) {
    while (p < end && kClass[static_cast<unsigned char>(*p)] == kBlank) ++p;
    if (p == end) return f;
    const char* start = p;
    unsigned char seen = 0;
    for (unsigned char c; p < end && (c = kClass[static_cast<unsigned char>(*p)]) != kBlank; ++p) seen |= c;
    const std::string_view token(start, static_cast<std::size_t>(p - start));
    const int k = f.tokens++;
    // A plain decimal of at most 38 characters is below FLT_MAX: finite.
    bool nonfinite = false;
    if ((seen & kOther) != 0 || token.size() > 38) {
      const std::optional<float> v = read_value(token);
      nonfinite = v && !std::isfinite(*v);
      f.nonfinite = f.nonfinite || nonfinite;
    }
    if (!solution || nonfinite) continue;
    const bool plain = (seen & kOther) == 0;
    if (k == 0) f.phi = outside(token, plain, 0, 1);
    else if (k <= 6 && k % 2 == 0) f.plunge = f.plunge || outside(token, plain, -90, 90);
  }
}

// The cases of one kind: how many, and the line of the first.
struct Tally {
  std::size_t count = 0, first = 0;
  void add(std::size_t line) {
    if (count++ == 0) first = line;
  }
};

// "'f.vrin': 3 records: WHAT, the first at line 9; MEANING"
HealthNote of_records(const char* code, const std::string& shown, const Tally& t, const std::string& what,
                      const std::string& meaning) {
  const std::string n = std::to_string(t.count);
  return {code, t.first, t.count,
          shown + ": " + n + (t.count == 1 ? " record: " : " records: ") + what +
              (t.count == 1 ? ", at line " : ", the first at line ") + std::to_string(t.first) + "; " +
              meaning};
}

}  // namespace

std::vector<HealthNote> health_of(std::string_view text, const std::string& shown) {
  std::vector<HealthNote> notes;
  if (first_line_too_long(text))
    notes.push_back({"wide", 1, 1,
                     "the first line of " + shown + " holds more than six numbers; is it a resample results file?"});
  Tally fields, swapped, phi, plunge, nonfinite;
  std::size_t line = 0;
  LineFacts tensor;  // of the record's first line, read before its second
  std::size_t tensor_nonfinite = 0;  // the first line of the record with a value not finite
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* stop = newline != nullptr ? newline : end;
    ++line;
    const bool solution = line % 2 == 0;
    const LineFacts f = look_at(p, stop, solution);
    p = newline != nullptr ? newline + 1 : end;
    if (!solution) {
      tensor = f;
      tensor_nonfinite = f.nonfinite ? line : 0;
      continue;
    }
    const bool swap = tensor.tokens == 7 && f.tokens == 6;
    if (swap) swapped.add(line - 1);
    else if (tensor.tokens != 6 || f.tokens != 7) fields.add(line - 1);
    if (tensor_nonfinite != 0 || f.nonfinite) nonfinite.add(tensor_nonfinite != 0 ? tensor_nonfinite : line);
    if (!swap && f.phi) phi.add(line);
    if (!swap && f.plunge) plunge.add(line);
  }
  if (line % 2 == 1) {
    if (tensor_nonfinite != 0) nonfinite.add(line);
    notes.push_back({"cut", line, 1,
                     shown + ": the file ends inside a record: the last record, at line " + std::to_string(line) +
                         ", has no solution line: its phi and axes were read from its tensor line"});
  }
  if (swapped.count > 0)
    notes.push_back(of_records("swapped", shown, swapped, "its two lines look swapped (7 numbers, then 6)",
                               "its tensor was read from the solution line and its solution from the tensor line"));
  if (fields.count > 0)
    notes.push_back(of_records("fields", shown, fields, "its lines do not hold 6, then 7 numbers",
                               "a number missing kept the value before it, and one past the sixth or seventh "
                               "was not read"));
  if (nonfinite.count > 0)
    notes.push_back(of_records("nonfinite", shown, nonfinite, "a value that is nan or inf",
                               "it was taken as it is, and can make a similarity or a bound nan or inf"));
  if (phi.count > 0)
    notes.push_back(of_records("phi", shown, phi, "phi outside [0, 1]",
                               "the range of phi was taken over the values as they are"));
  if (plunge.count > 0)
    notes.push_back(of_records("plunge", shown, plunge, "a plunge outside [-90, 90]",
                               "such an axis was taken as it is written"));
  return notes;
}

void add_unread(std::vector<HealthNote>& notes, const std::string& shown, const Analysis& a) {
  const std::size_t n = a.unread_fields;
  if (n == 0) return;
  notes.push_back({"unread", a.first_unread_line, n,
                   std::to_string(n) + (n == 1 ? " field" : " fields") + " of " + shown +
                       " did not read as numbers and kept the values before them; the first is field " +
                       std::to_string(a.first_unread_field) + " of line " + std::to_string(a.first_unread_line)});
}

std::string note_codes(const std::vector<HealthNote>& notes) {
  std::string codes;
  for (const HealthNote& n : notes) codes += (codes.empty() ? "" : ";") + n.code;
  return codes;
}

}  // namespace tilvex::formats
