#include "plot/svg.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tilvex::plot::svg
