#include "background.hpp"


namespace tilvex::plot {

Background::Background(unsigned threads) : most_waiting_(threads == 0 ? 1 : threads) {
  for (unsigned i = 0; i < (threads == 0 ? 1 : threads); ++i) threads_.emplace_back([this] { work(); });
}

Background::~Background() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.empty() && running_ == 0; });
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void Background::rethrow() {
  if (failure_) {
    // Once: whoever catches it may go on with what was done.
    std::exception_ptr e = failure_;
    failure_ = nullptr;
    std::rethrow_exception(e);
  }
}

void Background::add(std::function<void()> piece) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return waiting_.size() < most_waiting_ || failure_; });
  rethrow();
  waiting_.push_back(std::move(piece));
  changed_.notify_all();
}

void Background::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return waiting_.empty() && running_ == 0; });
  rethrow();
}

void Background::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return closing_ || !waiting_.empty(); });
    if (waiting_.empty()) return;  // closing
    std::function<void()> piece = std::move(waiting_.front());
    waiting_.pop_front();
    ++running_;
    lock.unlock();
    changed_.notify_all();  // room for another
    std::exception_ptr thrown;
    try {
      piece();
    } catch (...) {
      thrown = std::current_exception();
    }
    piece = nullptr;  // what it held, freed outside the lock
    lock.lock();
    --running_;
    if (thrown && !failure_) {
      failure_ = thrown;
      waiting_.clear();  // not run
    }
    changed_.notify_all();
  }
}


}  // namespace tilvex::plot
