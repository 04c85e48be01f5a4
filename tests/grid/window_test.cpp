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

// Points are taken `room` ahead of the writer while the results held weigh
// less than the budget, and only `window` ahead while they weigh more; the
// writer lingers for more results only while every worker still has room
// to take a point, and a stop ends its lingering.
TEST(OrderedWindow, RoomWhileLightAndLingerWhileTheWorkersHaveRoom) {
  using namespace std::chrono_literals;
  Window w(0, 100, 2, 10, 1000);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(w.take(), i);
  w.put(0, std::make_unique<std::size_t>(0), 1000);  // the budget: the room is the window's again
  std::atomic<bool> took{false};
  std::thread late([&] {
    EXPECT_EQ(w.take(), 4u);
    took = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(took);
  // No room left: no lingering, however long the writer may wait.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(values(w.batch(1, 60s)), (std::vector<std::size_t>{0}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(took);  // until point 0 is written, it weighs
  w.done(1);           // and its weight goes with it: room for 10 again
  late.join();
  EXPECT_TRUE(took);

  // Points 1 and 2 ready, 3 and 4 taken, room for 6 more: the writer
  // lingers while more than its one worker's point may still be taken.
  for (std::size_t i : {1, 2}) w.put(i, std::make_unique<std::size_t>(i), 10);
  std::atomic<bool> given{false};
  std::vector<std::size_t> got;
  std::thread writer([&] {
    got = values(w.batch(1, 60s));
    given = true;
  });
  for (std::size_t i = 5; i < 9; ++i) EXPECT_EQ(w.take(), i);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(given);  // room for 2
  const auto last = std::chrono::steady_clock::now();
  EXPECT_EQ(w.take(), 9u);
  writer.join();  // room for 1: the batch goes at once, with what is ready
  EXPECT_LT(std::chrono::steady_clock::now() - last, 30s);
  EXPECT_EQ(got, (std::vector<std::size_t>{1, 2}));

  // A stop ends the lingering, with nothing.
  Window s(0, 10, 2, 8, 1000);
  EXPECT_EQ(s.take(), 0u);
  s.put(0, std::make_unique<std::size_t>(0), 1);
  std::thread stopper([&] {
    std::this_thread::sleep_for(20ms);
    s.stop(2);
  });
  EXPECT_TRUE(s.batch(1, 60s).empty());
  stopper.join();
}

// Workers that finish in a random order, with a writer that takes its
// time: the writer still sees every point once, in list order, and no more
// than `window` points are ever taken and not yet written.
TEST(OrderedWindow, ListOrderAndBoundUnderRandomTimes) {
  struct Case {
    unsigned workers;
    std::size_t window, first, total, room = 0;
  };
  for (const Case c : {Case{1, 2, 0, 30}, Case{2, 4, 0, 40}, Case{4, 8, 5, 60}, Case{3, 3, 0, 40},
                       Case{4, 1, 2, 20}, Case{2, 4, 0, 60, 16}, Case{3, 3, 1, 60, 12}}) {
    for (unsigned seed = 1; seed <= 25; ++seed) {
      SCOPED_TRACE("workers " + std::to_string(c.workers) + ", window " + std::to_string(c.window) +
                   ", seed " + std::to_string(seed));
      // Results of 0 to 99 bytes, against a budget of 400.
      Window w(c.first, c.total, c.window, c.room, 400);
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
            w.put(*i, std::make_unique<std::size_t>(*i), random() % 100);
          }
        });
      std::mt19937 random(seed);
      std::vector<std::size_t> seen;
      while (seen.size() < c.total - c.first) {
        const auto batch = w.batch(std::min<std::size_t>(c.workers, c.total - c.first - seen.size()),
                                   std::chrono::microseconds(random() % 500));
        ASSERT_FALSE(batch.empty());
        for (std::size_t v : values(batch)) seen.push_back(v);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        held -= batch.size();  // before their room is given back
        w.done(batch.size());
      }
      for (std::thread& t : workers) t.join();
      for (std::size_t k = 0; k < seen.size(); ++k) ASSERT_EQ(seen[k], c.first + k);
      EXPECT_LE(most.load(), std::max(c.window, c.room));
    }
  }
}

}  // namespace
}  // namespace tilvex::grid
