#include "analysis/threshold.hpp"

#include "numeric/routines.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <span>
#include <vector>

namespace tilvex {
namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

TEST(ThresholdIndex, TruncatesTheDoubleProduct) {
  struct Case {
    std::size_t n;
    float level;
    std::size_t index;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {1000, 95, 50},     {1000, 100, 0},     {10, 90, 1},        {7, 50, 3},
      {1000, 99.9f, 0},   // the float 99.90000153: 0.99998, not 1
      {1000, 68.3f, 316}, // not 317
      {100, 43, 56},      // 56.99999999999999: the division comes first
      {100, 42, 57},      {100, 71, 28},
      {10, 101, 0},       // -0.1 truncates to 0
      {1, 1e-14f, 0},
      // Outside 0 .. n-1, clamped.
      {10, 110, 0},       {10, inf, 0},       {10, 0, 9},         {10, -5, 9},
      {10, -inf, 9},      {1, 7e-15f, 0},     {3, std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(threshold_index(c.level, c.n), c.index) << "n=" << c.n << " level=" << c.level;
}

// The threshold is the entry that sorting would put at the index, to the
// bit, on tables full of ties, signed zeros and NaNs of every payload.
TEST(ConfidenceThreshold, IsTheEntryTheSortedTableHasAtTheIndex) {
  std::mt19937 rng(42);
  const float pool[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 0x1p-149f, -0x1p-149f,
                        std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity(),
                        std::bit_cast<float>(0x7fc00000u), std::bit_cast<float>(0xffc00001u),
                        std::bit_cast<float>(0x7f800002u)};
  for (int round = 0; round < 3020; ++round) {
    // Small tables, some of up to 16384, and some large enough to be
    // selected by histogram.
    std::vector<float> table(round < 2800 ? 1 + rng() % 40 : round < 3000 ? 41 + rng() % 16344 : 16385 + rng() % 40000);
    for (float& v : table)
      v = rng() % 3 == 0 ? std::bit_cast<float>(static_cast<std::uint32_t>(rng()))
                         : pool[rng() % std::size(pool)];
    std::vector<float> sorted = table;
    sort(sorted.data(), sorted.size());
    for (float level : {100.0f, 95.0f, 50.0f, 1.0f, 0.0f, 68.3f}) {
      const std::size_t index = threshold_index(level, table.size());
      ASSERT_EQ(bits(confidence_threshold(table, level)), bits(sorted[index]))
          << "round " << round << " level " << level;
    }
  }
  // Tables not held whole give the same: counted by the top of their keys
  // and read in order (as two parts, too), on some of these tables and on
  // one whose 5 million values share their top, too many to hold.
  const auto unheld = [](std::span<const std::span<const float>> parts, float level) {
    KeyCounts high{};
    std::size_t n = 0;
    for (std::span<const float> p : parts)
      for (float f : p) ++high[order_key(f) >> 16], ++n;
    return confidence_threshold(high, n, level, [&](const std::function<void(float)>& f) {
      for (std::span<const float> p : parts)
        for (float v : p) f(v);
    });
  };
  std::vector<float> crowded(5000000);
  for (float& v : crowded)
    v = rng() % 50 == 0 ? pool[rng() % std::size(pool)] : std::bit_cast<float>(static_cast<std::uint32_t>(0x3f800000u | (rng() & 0xffffu)));
  for (int round = 0; round < 40; ++round) {
    std::vector<float> table(round == 0 ? 0 : 1 + rng() % 20000);
    for (float& v : table)
      v = rng() % 3 == 0 ? std::bit_cast<float>(static_cast<std::uint32_t>(rng())) : pool[rng() % std::size(pool)];
    if (round == 0) table = crowded;
    const std::size_t cut = rng() % (table.size() + 1);
    const std::span<const float> whole[] = {table};
    const std::span<const float> halves[] = {std::span<const float>(table).first(cut),
                                             std::span<const float>(table).subspan(cut)};
    for (float level : {100.0f, 95.0f, 50.0f, 1.0f, 0.0f, 68.3f}) {
      const std::uint32_t want = bits(confidence_threshold(table, level));
      ASSERT_EQ(bits(unheld(whole, level)), want) << "round " << round << " level " << level;
      ASSERT_EQ(bits(unheld(halves, level)), want) << "round " << round << " level " << level;
      ASSERT_EQ(bits(confidence_threshold(halves, level)), want) << "round " << round << " level " << level;
    }
  }

  // A threshold on a NaN entry is NaN: it accepts nothing.
  const std::vector<float> t = {0.5f, 0.9f, std::numeric_limits<float>::quiet_NaN(), 0.1f, 0.7f};
  EXPECT_EQ(confidence_threshold(t, 70), 0.5f);  // index 1 of 0.1 0.5 0.7 0.9 nan
  EXPECT_TRUE(std::isnan(confidence_threshold(t, 0)));
}

}  // namespace
}  // namespace tilvex
