#include "plot/background.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tilvex::plot {
namespace {

// Every piece given runs once, whatever thread takes it, and finish()
// waits for the last.
TEST(Background, EveryPieceRunsOnce) {
  std::atomic<int> runs[200] = {};
  {
    Background work(3);
    for (int i = 0; i < 200; ++i) work.add([&, i] { ++runs[i]; });
    work.finish();
    for (int i = 0; i < 200; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
  }
}

// A piece that throws: the exception reaches the caller (at the next add
// or at finish), the pieces still waiting then are not run, and the work
// done before stays done.
TEST(Background, AFailureStopsWhatWaitsAndIsTold) {
  std::atomic<int> done{0};
  std::atomic<bool> go{false};
  Background work(1);
  work.add([&] {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++done;
  });
  work.add([&] { throw std::runtime_error("cannot write x.svg"); });  // waits behind the first
  go = true;
  bool told = false;
  try {
    for (int i = 0; i < 1000; ++i) work.add([&] { ++done; });  // the first add after the failure throws
    work.finish();
  } catch (const std::runtime_error& e) {
    told = std::string(e.what()) == "cannot write x.svg";
  }
  EXPECT_TRUE(told);
  work.finish();  // told once: the caller may go on
  EXPECT_GE(done.load(), 1);
  EXPECT_LE(done.load(), 2);  // at most the one added while the failing piece waited
}

}  // namespace
}  // namespace tilvex::plot
