// libFuzzer target: a whole run in memory on arbitrary bytes, at the
// confidence level its first four bytes spell and at a few fixed ones. It
// checks what must hold for every input: the in-place result texts equal
// the plain analysis's, the health gathered as the analysis reads equals
// the health of the file read whole, and the fast scan of each line equals
// the standard scan. Sanitizers check the rest.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "formats/health.hpp"
#include "text/reader.hpp"
#include "run/in_place.hpp"
#include "text/scan.hpp"
#include "text/writer.hpp"

namespace {

class Lines : public tilvex::AcceptedSink {
 public:
  void accept(std::size_t, const tilvex::Solution& s) override {
    tilvex::append_accepted_line(text, tilvex::Grid{-1, 0, 7, 2147483647}, s);
  }
  std::string text;
};

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void check_run(std::string_view text, float level) {
  Lines lines;
  const tilvex::Analysis a = tilvex::analyse(text, level, lines);
  std::string summary;
  tilvex::append_summary_line(summary, a.summary);
  std::string buffer(text);
  tilvex::formats::HealthWatch watch;
  const tilvex::RunTexts t =
      tilvex::analyse_in_place(buffer, level, tilvex::Grid{-1, 0, 7, 2147483647}, {.watcher = &watch});
  const auto pieces = t.pieces();
  check(std::string(pieces[0]) + std::string(pieces[1]) == lines.text);
  check(t.summary == summary);
  const auto whole = tilvex::formats::health_of(text, "'f'"), read = watch.notes("'f'");
  check(whole.size() == read.size());
  for (std::size_t k = 0; k < whole.size() && k < read.size(); ++k) check(whole[k].text == read[k].text);
  // Read in two parts or up to eight where it splits, with the
  // similarities in the text or not, and as one with them in the text, the
  // threshold guessed after all or a few: the same texts and findings.
  constexpr std::size_t kNever = static_cast<std::size_t>(-1);
  struct Way {
    unsigned threads;
    std::size_t parts, in_text_from, guess_after;
  };
  for (const auto& [threads, parts, in_text_from, guess_after] :
       {Way{2u, 2, kNever, 16384}, {2u, 8, kNever, 16384}, {2u, 2, 0, 16384}, {2u, 3, 0, 16384},
        {1u, 2, 0, 16384}, {2u, 8, 0, 2}, {1u, 2, 0, 5}}) {
    std::string other_buffer(text);
    tilvex::formats::HealthWatch other_watch;
    const tilvex::RunTexts h = tilvex::analyse_in_place(other_buffer, level, tilvex::Grid{-1, 0, 7, 2147483647},
                                                        {.watcher = &other_watch,
                                                         .threads = threads,
                                                         .parts = parts,
                                                         .parts_from = 0,
                                                         .in_text_from = in_text_from,
                                                         .guess_after = guess_after});
    std::string other_lines;
    for (std::string_view piece : h.pieces()) other_lines += piece;
    check(other_lines == lines.text);
    check(h.summary == summary);
    const auto other_read = other_watch.notes("'f'");
    check(other_read.size() == read.size());
    for (std::size_t k = 0; k < read.size() && k < other_read.size(); ++k) check(other_read[k].text == read[k].text);
  }
}

void check_scan(std::string_view line) {
  for (int count : {6, 7}) {
    float want[7], got[7];
    for (int k = 0; k < 7; ++k) want[k] = got[k] = static_cast<float>(k) - 3.5f;
    const std::string copy(line);
    int n = count == 6 ? std::sscanf(copy.c_str(), "%f %f %f %f %f %f", &want[0], &want[1],
                                     &want[2], &want[3], &want[4], &want[5])
                       : std::sscanf(copy.c_str(), "%f %f %f %f %f %f %f", &want[0], &want[1],
                                     &want[2], &want[3], &want[4], &want[5], &want[6]);
    if (n < 0) n = 0;
    bool plain = false;
    check(tilvex::scan_fields(line.data(), line.data() + line.size(), line.data() + line.size(), got, count,
                              plain) == n);
    check(std::memcmp(want, got, sizeof want) == 0);
    // Read on past the line, as within a file: the same fields, as plain.
    const std::string text = copy + std::string(80, '5');
    float within[7];
    for (int k = 0; k < 7; ++k) within[k] = static_cast<float>(k) - 3.5f;
    bool plain_within = !plain;
    check(tilvex::scan_fields(text.data(), text.data() + line.size(), text.data() + text.size(), within,
                              count, plain_within) == n);
    check(std::memcmp(want, within, sizeof want) == 0);
    check(plain_within == plain);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  float level = 95.0f;
  if (size >= 4) std::memcpy(&level, data, 4);
  for (float l : {level, 95.0f, 0.0f, 150.0f}) check_run(text, l);
  tilvex::LineCursor lines(text);
  for (int k = 0; k < 64 && lines.next(); ++k) check_scan(lines.line());
  return 0;
}
