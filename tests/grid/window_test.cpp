#include "grid/window.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace tilvex::grid {
namespace {

using Window = OrderedWindow<std::unique_ptr<std::size_t>>;

std::vector<std::size_t> values(const std::vector<std::unique_ptr<std::size_t>>& batch) {
  std::vector<std::size_t> out;
  for (const auto& r : batch) out.push_back(*r);
  return out;
}

// The writer is given every ready result that follows the last batch, and
// none past a gap; a stop ends its wait with nothing.
TEST(OrderedWindow, ConsecutiveReadyResults) {
  Window w(0, 6, 4);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(w.take(), i);
  for (std::size_t i : {2, 3, 1, 0}) w.put(i, std::make_unique<std::size_t>(i));
  EXPECT_EQ(values(w.batch(1)), (std::vector<std::size_t>{0, 1, 2, 3}));
  w.done(4);
  EXPECT_EQ(w.take(), 4u);
  EXPECT_EQ(w.take(), 5u);
  EXPECT_EQ(w.take(), std::nullopt);
  w.put(5, std::make_unique<std::size_t>(5));
  w.put(4, std::make_unique<std::size_t>(4));
  EXPECT_EQ(values(w.batch(2)), (std::vector<std::size_t>{4, 5}));
  EXPECT_EQ(w.stopped(), 0);

  // Once stopped, the writer is given nothing, not even a ready result;
  // the first signal is the one told.
  Window s(0, 2, 2);
  EXPECT_EQ(s.take(), 0u);
  s.put(0, std::make_unique<std::size_t>(0));
  s.stop(15);
  s.stop(2);
  EXPECT_TRUE(s.batch(1).empty());
  EXPECT_EQ(s.stopped(), 15);
  EXPECT_EQ(s.stopping()->load(), 15);
}

// Workers that finish in a random order, with a writer that takes its
// time: the writer still sees every point once, in list order, and no more
// than `window` points are ever taken and not yet written.
TEST(OrderedWindow, ListOrderAndBoundUnderRandomTimes) {
  struct Case {
    unsigned workers;
    std::size_t window, first, total;
  };
  for (const Case c : {Case{1, 2, 0, 30}, Case{2, 4, 0, 40}, Case{4, 8, 5, 60}, Case{3, 3, 0, 40},
                       Case{4, 1, 2, 20}}) {
    for (unsigned seed = 1; seed <= 25; ++seed) {
      SCOPED_TRACE("workers " + std::to_string(c.workers) + ", window " + std::to_string(c.window) +
                   ", seed " + std::to_string(seed));
      Window w(c.first, c.total, c.window);
      std::atomic<std::size_t> held{0}, most{0};
      std::vector<std::thread> workers;
      for (unsigned j = 0; j < c.workers; ++j)
        workers.emplace_back([&, j] {
          std::mt19937 random(seed * 31 + j);
          while (const auto i = w.take()) {
            const std::size_t now = ++held;
            for (std::size_t m = most; now > m && !most.compare_exchange_weak(m, now);) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
            w.put(*i, std::make_unique<std::size_t>(*i));
          }
        });
      std::mt19937 random(seed);
      std::vector<std::size_t> seen;
      while (seen.size() < c.total - c.first) {
        const auto batch = w.batch(std::min<std::size_t>(c.workers, c.total - c.first - seen.size()));
        ASSERT_FALSE(batch.empty());
        for (std::size_t v : values(batch)) seen.push_back(v);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        held -= batch.size();  // before their room is given back
        w.done(batch.size());
      }
      for (std::thread& t : workers) t.join();
      for (std::size_t k = 0; k < seen.size(); ++k) ASSERT_EQ(seen[k], c.first + k);
      EXPECT_LE(most.load(), c.window);
    }
  }
}

}  // namespace
}  // namespace tilvex::grid
