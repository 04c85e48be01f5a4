#include "files/input_file.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

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

// Inputs read in turn through kept buffers: a shorter one in the buffer of
// a longer one holds its own bytes only; a longer one than any kept gets a
// buffer of its own (and the one too small is let go); a pipe, read as it
// comes, too; and no more bytes are kept than the bound.
TEST(InputFile, KeptBuffersHoldEachInputWholeAndNoMoreThanTheirBound) {
  ScratchDir dir;
  constexpr std::size_t kKiB = 1024;
  const auto buffers = std::make_shared<InputBuffers>(1024 * kKiB);
  std::uint32_t state = 9;
  const auto file_of = [&](std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>('a' + ((state = state * 1664525u + 1013904223u) >> 28));
    const std::string name = dir / ("in" + std::to_string(size));
    spill(name, bytes);
    return std::pair{name, bytes};
  };
  const auto read = [&](const std::string& name, const std::string& bytes) {
    auto input = std::make_unique<InputFile>(buffers);
    EXPECT_TRUE(input->open(name) && input->read()) << name;
    EXPECT_EQ(input->size(), bytes.size()) << name;
    EXPECT_TRUE(input->text() == bytes) << name;
    return input;
  };
  const auto [long_name, long_bytes] = file_of(300 * kKiB);
  const char* long_data = read(long_name, long_bytes)->text().data();
  EXPECT_EQ(buffers->kept(), 320 * kKiB);  // in steps of 64 KiB
  const auto [short_name, short_bytes] = file_of(100 * kKiB + 3);
  EXPECT_EQ(read(short_name, short_bytes)->text().data(), long_data);  // the kept one, used
  const auto [larger_name, larger_bytes] = file_of(500 * kKiB);
  read(larger_name, larger_bytes);
  EXPECT_EQ(buffers->kept(), 512 * kKiB);  // the larger one's; the one too small let go

  // A pipe: its bytes come in pieces, into a kept buffer.
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto [piped_name, piped_bytes] = file_of(200 * kKiB + 11);
  std::thread writer([&, &piped = piped_bytes] { std::ofstream(fifo, std::ios::binary) << piped; });
  {
    const auto piped = read(fifo, piped_bytes);
    writer.join();
    EXPECT_EQ(buffers->kept(), 0u);
  }

  // Three held at once, let go together: 1024 KiB kept at most.
  {
    const auto [a, a_bytes] = file_of(400 * kKiB);
    const auto [b, b_bytes] = file_of(401 * kKiB);
    const auto [c, c_bytes] = file_of(402 * kKiB);
    const auto held = {read(a, a_bytes), read(b, b_bytes), read(c, c_bytes)};
  }
  EXPECT_LE(buffers->kept(), 1024 * kKiB);
  EXPECT_GE(buffers->kept(), 832 * kKiB);
}

}  // namespace
}  // namespace tilvex
