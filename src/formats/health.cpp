#include "health.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/reader.hpp"
#include "text/scan.hpp"

namespace tilvex::formats {

// What one line holds, as far as the checks need it.
struct LineFacts {
  int tokens = 0;
  bool nonfinite = false;
  bool phi = false;     // phi outside [0, 1] (a solution line's first token)
  bool plunge = false;  // a plunge outside [-90, 90] (its 3rd, 5th or 7th)
};

// The cases of one kind: how many, and the line of the first.
struct Tally {
  std::size_t count = 0, first = 0;
  void add(std::size_t line) {
    if (count++ == 0) first = line;
  }
};

// The records of a file: each finding counted from the line of its first
// case.
struct HealthTallies {
  Tally fields, swapped, phi, plunge, nonfinite;

  // Takes in the tallies of the records after these, whose lines are
  // numbered after the first `lines_before`.
  void join(const HealthTallies& later, std::size_t lines_before) {
    const auto take = [&](Tally& t, const Tally& l) {
      if (l.count == 0) return;
      if (t.count == 0) t.first = l.first + lines_before;
      t.count += l.count;
    };
    take(fields, later.fields);
    take(swapped, later.swapped);
    take(phi, later.phi);
    take(plunge, later.plunge);
    take(nonfinite, later.nonfinite);
  }

  // The record whose solution line is `line`, its tensor line before it.
  void add(std::size_t line, const LineFacts& tensor, const LineFacts& solution) {
    const bool swap = tensor.tokens == 7 && solution.tokens == 6;
    if (swap) swapped.add(line - 1);
    else if (tensor.tokens != 6 || solution.tokens != 7) fields.add(line - 1);
    if (tensor.nonfinite || solution.nonfinite) nonfinite.add(tensor.nonfinite ? line - 1 : line);
    if (!swap && solution.phi) phi.add(line);
    if (!swap && solution.plunge) plunge.add(line);
  }
};

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

// The float the standard "%f" scan reads from the start of `t`, or none:
// the analysis's own scan of a field.
std::optional<float> read_value(std::string_view t) {
  float v = 0.0f;
  if (scan_fields(t.data(), t.data() + t.size(), &v, 1) == 1) return v;
  return std::nullopt;
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

// The whole text 64 bytes at a time, as bit masks (bit k for byte k):
// the lines of only plain characters (digits, '+' to '9') and blanks
// (space, tab, carriage return) are counted from the masks, every other
// line goes to look_at: one with another character (a letter may be nan
// or inf), a token of 32 characters or more (39 may overflow), more than 7
// tokens on a solution line. The technique is simdjson's: classify a block
// of bytes with vector compares, then work on the bits.
struct Block {
  std::uint64_t token = 0;    // not a blank or a newline
  std::uint64_t newline = 0;
  std::uint64_t odd = 0;      // neither plain nor a blank nor a newline
};

// The block of the 64 bytes at q (all readable).
Block block_at(const char* q) {
  Block b;
#if defined(__SSE2__)
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * k));
    // Signed compares: bytes from 0x80 are below 0x2b.
    const __m128i plain = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('+' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8(':')));
    const __m128i newline = _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'));
    const __m128i blank = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))),
                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
    const auto bits = [](__m128i m) { return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(m))); };
    const std::uint64_t n = bits(newline), sep = n | bits(blank), p = bits(plain);
    b.token |= (~sep & 0xffff) << (16 * k);
    b.newline |= n << (16 * k);
    b.odd |= (~(sep | p) & 0xffff) << (16 * k);
  }
#else
  for (int k = 0; k < 64; ++k) {
    const char c = q[k];
    const std::uint64_t bit = std::uint64_t{1} << k;
    const bool newline = c == '\n', blank = c == ' ' || c == '\t' || c == '\r';
    if (!newline && !blank) b.token |= bit;
    if (newline) b.newline |= bit;
    if (!newline && !blank && !(c >= '+' && c <= '9')) b.odd |= bit;
  }
#endif
  return b;
}

int count_bits(std::uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555u);
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
  return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

// Whether a plain token at t (before `end`) reads outside [-bound, bound]
// (phi: [0, 1], bound 1 and `phi`), deciding the common short forms at
// once ("0.5399", "-36.90", "8.4") and the rest by `outside`.
bool beyond(const char* t, const char* end, bool phi) {
  const auto at = [&](std::ptrdiff_t k) { return t + k < end ? *(t + k) : ' '; };
  const auto ends = [](char c) { return c == '.' || static_cast<unsigned char>(c) <= ' '; };
  if (phi) {
    if (at(0) == '0' && at(1) == '.') return false;  // in [0, 1]
  } else {
    const std::ptrdiff_t s = (at(0) == '-' || at(0) == '+') ? 1 : 0;
    if (digit(at(s)) && ends(at(s + 1))) return false;
    if (digit(at(s)) && at(s) != '0' && digit(at(s + 1)) && ends(at(s + 2)) && (at(s) < '9' || at(s + 1) == '0') &&
        !(at(s) == '9' && at(s + 2) == '.'))
      return false;  // 10 to 89, or 90 without a fraction part
  }
  const char* e = t;
  while (e < end && static_cast<unsigned char>(*e) > ' ') ++e;
  return outside(std::string_view(t, static_cast<std::size_t>(e - t)), true, phi ? 0 : -90, phi ? 1 : 90);
}

// What the fast pass gathers of the line it is in.
struct FastLine {
  const char* start;
  int tokens = 0;
  bool slow = false;
  const char* value_at[4] = {};  // tokens 0, 2, 4 and 6 of a solution line
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

// The lines of a file as they are read, in order, to their records.
struct Lines {
  HealthTallies records;
  std::size_t line = 0;
  LineFacts tensor;  // of the record's first line, read before its second

  // A line is read: its facts go to its record.
  void took(const LineFacts& f) {
    if (++line % 2 == 1) tensor = f;
    else records.add(line, tensor, f);
  }
};

// Every line of `text` to `r`, 64 bytes at a time.
void scan_lines(std::string_view text, Lines& r) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  FastLine l{begin};
  // The line from l.start ends at `stop` (its newline, or the end).
  const auto line_ends = [&](const char* stop) {
    const bool solution = r.line % 2 == 1;  // the line read now is line + 1
    if (l.slow) {
      r.took(look_at(l.start, stop, solution));
    } else {
      LineFacts f;
      f.tokens = l.tokens;
      if (l.value_at[0] != nullptr) f.phi = beyond(l.value_at[0], stop, true);
      for (int k = 1; k < 4; ++k)
        if (l.value_at[k] != nullptr) f.plunge = f.plunge || beyond(l.value_at[k], stop, false);
      r.took(f);
    }
    l = FastLine{stop + 1};
  };

  std::uint64_t carry = 0;  // 1 where the byte before the block was a token's
  int run = 0;              // token bytes at the end of the block before
  for (const char* q = begin; q < end; q += 64) {
    Block k;
    if (end - q >= 64) {
      k = block_at(q);
    } else {  // the bytes past the end as blanks
      char last[64];
      std::memset(last, ' ', sizeof last);
      std::memcpy(last, q, static_cast<std::size_t>(end - q));
      k = block_at(last);
    }
    // Tokens of 32 bytes or more: x holds bit i where bytes i to i + 31 are
    // a token's; and those that go on from the block before.
    std::uint64_t x = k.token;
    for (int shift : {1, 2, 4, 8, 16}) x &= x >> shift;
    const int leading = std::countr_one(k.token);
    if (run + leading >= 32) l.slow = true;
    run = k.token == ~std::uint64_t{0} ? run + 64 : std::countl_one(k.token);
    k.odd |= x;
    std::uint64_t starts = k.token & ~((k.token << 1) | carry);
    carry = k.token >> 63;
    for (;;) {
      const std::uint64_t here = k.newline == 0 ? ~std::uint64_t{0} : (k.newline & (0 - k.newline)) - 1;
      const std::uint64_t s = starts & here;
      if ((k.odd & here) != 0) l.slow = true;
      if (r.line % 2 == 0 || l.slow) {
        l.tokens += count_bits(s);
      } else {
        for (std::uint64_t b = s; b != 0; b &= b - 1) {
          const int t = l.tokens++;
          if (t > 6) l.slow = true;
          else if (t % 2 == 0) l.value_at[t / 2] = q + std::countr_zero(b);
        }
      }
      if (k.newline == 0) break;
      line_ends(q + std::countr_zero(k.newline));
      starts &= ~here;
      k.odd &= ~here;
      k.newline &= k.newline - 1;
    }
  }
  if (l.start < end) line_ends(end);
}

// The notes of a file of `lines` lines in `r`, the last of which, if it
// is a tensor line, is `last` (a record cut short).
std::vector<HealthNote> notes_of(const std::string& shown, bool wide, HealthTallies& r, std::size_t lines,
                                 const LineFacts& last) {
  std::vector<HealthNote> notes;
  if (wide)
    notes.push_back({"wide", 1, 1,
                     "the first line of " + shown + " holds more than six numbers; is it a resample results file?"});
  if (lines % 2 == 1) {
    if (last.nonfinite) r.nonfinite.add(lines);
    notes.push_back({"cut", lines, 1,
                     shown + ": the file ends inside a record: the last record, at line " + std::to_string(lines) +
                         ", has no solution line: its phi and axes were read from its tensor line"});
  }
  if (r.swapped.count > 0)
    notes.push_back(of_records("swapped", shown, r.swapped, "its two lines look swapped (7 numbers, then 6)",
                               "its tensor was read from the solution line and its solution from the tensor line"));
  if (r.fields.count > 0)
    notes.push_back(of_records("fields", shown, r.fields, "its lines do not hold 6, then 7 numbers",
                               "a number missing kept the value before it, and one past the sixth or seventh "
                               "was not read"));
  if (r.nonfinite.count > 0)
    notes.push_back(of_records("nonfinite", shown, r.nonfinite, "a value that is nan or inf",
                               "it was taken as it is, and can make a similarity or a bound nan or inf"));
  if (r.phi.count > 0)
    notes.push_back(of_records("phi", shown, r.phi, "phi outside [0, 1]",
                               "the range of phi was taken over the values as they are"));
  if (r.plunge.count > 0)
    notes.push_back(of_records("plunge", shown, r.plunge, "a plunge outside [-90, 90]",
                               "such an axis was taken as it is written"));
  return notes;
}

}  // namespace

std::vector<HealthNote> health_of(std::string_view text, const std::string& shown) {
  Lines r;
  scan_lines(text, r);
  return notes_of(shown, first_line_too_long(text), r.records, r.line, r.tensor);
}

HealthWatch::HealthWatch() : records_(std::make_unique<HealthTallies>()) {}
HealthWatch::~HealthWatch() = default;

void HealthWatch::scanned(std::size_t number, std::string_view line, const float* fields, int converted,
                          bool plain) {
  const bool solution = number % 2 == 0;
  if (number == 1) wide_ = first_line_too_long(line);
  lines_ = std::max(lines_, number);
  LineFacts f;
  if (plain) {
    // The words are the fields, each finite.
    f.tokens = converted;
    if (solution && converted > 0) f.phi = fields[0] < 0.0f || fields[0] > 1.0f;
    for (int k = 2; solution && k < converted && k <= 6; k += 2)
      f.plunge = f.plunge || fields[k] < -90.0f || fields[k] > 90.0f;
  } else {
    const std::size_t length = line.size() - (!line.empty() && line.back() == '\n' ? 1 : 0);
    f = look_at(line.data(), line.data() + length, solution);
  }
  if (!solution) {
    if (f.tokens != 6 || f.nonfinite) odd_.push_back({number, f.tokens, f.nonfinite});
    return;
  }
  // The tensor lines came first, in order, as the solution lines come now.
  while (next_odd_ < odd_.size() && odd_[next_odd_].line < number - 1) ++next_odd_;
  LineFacts tensor;
  tensor.tokens = 6;
  if (next_odd_ < odd_.size() && odd_[next_odd_].line == number - 1) {
    tensor.tokens = odd_[next_odd_].tokens;
    tensor.nonfinite = odd_[next_odd_].nonfinite;
  }
  records_->add(number, tensor, f);
}

std::unique_ptr<LineWatcher> HealthWatch::part() const { return std::make_unique<HealthWatch>(); }

void HealthWatch::join(const LineWatcher& part, std::size_t lines_before) {
  const auto& later = dynamic_cast<const HealthWatch&>(part);
  if (later.lines_ == 0) return;
  if (lines_before == 0) wide_ = later.wide_;
  lines_ = lines_before + later.lines_;
  for (const OddLine& o : later.odd_) odd_.push_back({o.line + lines_before, o.tokens, o.nonfinite});
  next_odd_ = odd_.size();
  records_->join(*later.records_, lines_before);
}

std::vector<HealthNote> HealthWatch::notes(const std::string& shown) const {
  LineFacts last;
  if (lines_ % 2 == 1 && !odd_.empty() && odd_.back().line == lines_) last.nonfinite = odd_.back().nonfinite;
  HealthTallies r = *records_;
  return notes_of(shown, wide_, r, lines_, last);
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
