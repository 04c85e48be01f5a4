#include "plot/svg.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace tilvex::plot::svg {
namespace {

// Guards the text of the figures (titles carry the user's file names):
// control characters but tab are left out (XML allows none but tab, newline
// and return, and a title is one line), every byte of a UTF-8 name stays.
TEST(SvgEscape, EntitiesControlCharactersAndUtf8) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"run <7> & \"more\"", "run &lt;7&gt; &amp; &quot;more&quot;"},
      {"a\tb", "a\tb"},                                         // tab is kept
      {std::string("a\x01\x1f\nb\r\0c", 8), "abc"},             // control characters, NUL among them, are not
      {"g\xc3\xa9ologie \xe2\x80\x93 \xf0\x9f\x8c\x8b", "g\xc3\xa9ologie \xe2\x80\x93 \xf0\x9f\x8c\x8b"},
      {"\x7f~ ", "\x7f~ "},                                     // DEL and the printable edge stay
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(escape(c.in), c.out) << c.in;
}

// A coordinate is written as "%.1f" writes it, byte for byte: ties of the
// binary value (0.25, 0.35, 2.5e15), a negative that rounds to "-0.0",
// the largest (cut to 31 characters, as a 32-byte buffer cut it), not a
// number; and a million random doubles of the canvas's range and beyond.
TEST(SvgNumber, AsPrintfWritesIt) {
  const auto printf_one = [](double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return std::string(buf);
  };
  for (double v : {0.0, -0.0, 0.05, 0.25, 0.35, -0.04, -0.05, 0.15, 479.95, 2.5e15, 1e22, 1e300, -1e300,
                   std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL})
    EXPECT_EQ(number(v), printf_one(v)) << v;
  std::mt19937_64 engine(5);
  for (int i = 0; i < 1000000; ++i) {
    const double v = i % 2 ? static_cast<double>(static_cast<std::int64_t>(engine() % 4000001) - 2000000) / 40.0
                           : std::ldexp(static_cast<double>(engine() >> 11), -53 + static_cast<int>(engine() % 80));
    ASSERT_EQ(number(v), printf_one(v)) << v;
  }
}

}  // namespace
}  // namespace tilvex::plot::svg
