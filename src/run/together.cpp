#include "together.hpp"

#include <exception>
#include <system_error>
#include <thread>

namespace tilvex::inline detail {

void together(const std::function<void()>& first, const std::function<void()>& later) {
  std::exception_ptr failed;
  std::thread thread;
  try {
    thread = std::thread([&] {
      try {
        later();
      } catch (...) {
        failed = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    first();
    later();
    return;
  }
  try {
    first();
  } catch (...) {
    thread.join();
    throw;
  }
  thread.join();
  if (failed) std::rethrow_exception(failed);
}

}  // namespace tilvex::inline detail
