#include "files/input_file.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "../support/run.hpp"
#include "run/together.hpp"

namespace tilvex {
namespace {

using test::ScratchDir;
using test::spill;

// Every byte once and in place, whether a file is read as one or as two
// halves at once: sizes about where halves begin (4 MiB), odd ones, and
// halves that do not fall on a page.
TEST(InputFile, ReadsEveryByteOnceInPlaceAsOneOrAsHalves) {
  ScratchDir dir;
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  std::uint32_t state = 2026;
  for (const std::size_t size : {std::size_t{1}, std::size_t{4095}, 4 * kMiB - 1, 4 * kMiB, 4 * kMiB + 1,
                                 4 * kMiB + 3 * 4096 + 7, 9 * kMiB + 12345}) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
    const std::string name = dir / ("in" + std::to_string(size));
    spill(name, bytes);
    for (const bool halves : {false, true}) {
      InputFile input;
      ASSERT_TRUE(input.open(name));
      ASSERT_TRUE(input.read(halves ? InputFile::Together(together) : nullptr)) << size;
      EXPECT_EQ(input.error(), 0);
      ASSERT_EQ(input.size(), size) << (halves ? " as halves" : " as one");
      EXPECT_TRUE(input.text() == bytes) << size << " bytes, " << (halves ? " as halves" : " as one");
    }
  }
}

}  // namespace
}  // namespace tilvex
