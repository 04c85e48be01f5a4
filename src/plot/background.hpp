#pragma once
// Pieces of work done on a few threads while the caller goes on (the
// stereonets of a grid drawn while the accepted file is read on). At most
// as many pieces wait as there are threads, so what they hold stays
// bounded. The first exception a piece throws is kept; the pieces after it
// are not run, and the next add() or finish() throws it.

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tilvex::plot {

class Background {
 public:
  explicit Background(unsigned threads);
  ~Background();  // waits for every piece given (exceptions kept are dropped)
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // Waits while `threads` pieces wait, then hands `piece` over.
  void add(std::function<void()> piece);
  // Waits until every piece given is done.
  void finish();

 private:
  void work();
  void rethrow();  // with the lock held

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> waiting_;
  std::size_t running_ = 0, most_waiting_;
  bool closing_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> threads_;
};


}  // namespace tilvex::plot
