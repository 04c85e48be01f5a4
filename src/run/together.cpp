#include "together.hpp"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <exception>

namespace tilvex::inline detail {

namespace {

struct Later {
  const std::function<void()>* work;
  std::exception_ptr failed;
#if defined(__linux__)
  cpu_set_t anywhere;  // the processors the process may use
  bool moved = false;
#endif
};

void* run_later(void* p) {
  Later& later = *static_cast<Later*>(p);
#if defined(__linux__)
  if (later.moved) ::sched_setaffinity(0, sizeof later.anywhere, &later.anywhere);
#endif
  try {
    (*later.work)();
  } catch (...) {
    later.failed = std::current_exception();
  }
  return nullptr;
}

}  // namespace

void together(const std::function<void()>& first, const std::function<void()>& later_work) {
  Later later{};
  later.work = &later_work;
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) {
    first();
    later_work();
    return;
  }
#if defined(__linux__)
  if (::sched_getaffinity(0, sizeof later.anywhere, &later.anywhere) == 0) {
    cpu_set_t elsewhere = later.anywhere;
    if (const int here = ::sched_getcpu(); here >= 0 && here < CPU_SETSIZE) CPU_CLR(here, &elsewhere);
    later.moved = CPU_COUNT(&elsewhere) > 0 && ::pthread_attr_setaffinity_np(&attr, sizeof elsewhere, &elsewhere) == 0;
  }
#endif
  pthread_t thread;
  const bool started = ::pthread_create(&thread, &attr, run_later, &later) == 0;
  ::pthread_attr_destroy(&attr);
  if (!started) {
    first();
    later_work();
    return;
  }
  try {
    first();
  } catch (...) {
    ::pthread_join(thread, nullptr);
    throw;
  }
  ::pthread_join(thread, nullptr);
  if (later.failed) std::rethrow_exception(later.failed);
}

void together_each(std::size_t count, const std::function<void(std::size_t, int)>& work) {
  if (count <= 1) {
    if (count == 1) work(0, 0);
    return;
  }
  std::atomic<std::size_t> next{0};
  const auto take = [&](int thread) {
    for (std::size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < count;) work(k, thread);
  };
  together([&] { take(0); }, [&] { take(1); });
}

}  // namespace tilvex::inline detail
