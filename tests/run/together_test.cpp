#include "run/together.hpp"

#include <sched.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace tilvex {
namespace {

// Both pieces of work are done before either's exception comes out, and
// an exception from either comes out; the later one's thread, started
// elsewhere, may then run on every processor the caller may use.
TEST(Together, BothDoneEitherFailureOutAndTheThreadFreeToMove) {
  cpu_set_t caller;
  ASSERT_EQ(::sched_getaffinity(0, sizeof caller, &caller), 0);
  bool first = false, later = false, same = false;
  together([&] { first = true; },
           [&] {
             cpu_set_t mine;
             same = ::sched_getaffinity(0, sizeof mine, &mine) == 0 && CPU_EQUAL(&mine, &caller);
             later = true;
           });
  EXPECT_TRUE(first && later);
  EXPECT_TRUE(same) << "the later work's thread kept the processors it was started on";

  for (const bool later_fails : {false, true}) {
    bool other_done = false;
    std::string caught;
    try {
      together(
          [&] {
            if (!later_fails) throw std::runtime_error("first");
            other_done = true;
          },
          [&] {
            if (later_fails) throw std::runtime_error("later");
            other_done = true;
          });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    EXPECT_EQ(caught, later_fails ? "later" : "first");
    EXPECT_TRUE(other_done);
  }
}

}  // namespace
}  // namespace tilvex
