#pragma once
// The ordered window of a grid: workers take points in list order, at most
// `window` ahead of the writer, and the writer is given the results back
// in list order, as many consecutive ones as are ready. So at most
// `window` results (and their inputs) are held at once, however unevenly
// the points take their time.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

namespace tilvex::grid {

template <typename Result>
class OrderedWindow {
 public:
  // Points `first` to `total` - 1 are to be done; `window` >= 1.
  OrderedWindow(std::size_t first, std::size_t total, std::size_t window)
      : slots_(window), next_(first), committed_(first), total_(total) {}

  // For a worker: the next point in list order, once it is within the
  // window; none once every point is taken.
  std::optional<std::size_t> take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return next_ >= total_ || next_ < committed_ + slots_.size(); });
    if (next_ >= total_) return std::nullopt;
    return next_++;
  }

  // For a worker: the result of point `i`, which it took.
  void put(std::size_t i, Result result) {
    std::lock_guard lock(mutex_);
    slots_[i % slots_.size()] = std::move(result);
    changed_.notify_all();
  }

  // For the writer: waits until the `wanted` results after the last batch
  // are ready (or the window is stopped), then takes every consecutive
  // ready one, in list order. Empty once stopped. Their room is given back
  // by done().
  std::vector<Result> batch(std::size_t wanted) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
      if (signal_ != 0) return true;
      std::size_t ready = 0;
      while (ready < wanted && slots_[(committed_ + ready) % slots_.size()]) ++ready;
      return ready == wanted;
    });
    std::vector<Result> out;
    if (signal_ != 0) return out;
    for (std::size_t i = committed_; i < total_ && slots_[i % slots_.size()]; ++i)
      out.push_back(std::move(slots_[i % slots_.size()]));
    return out;
  }

  // For the writer: the last `count` results taken are written; their
  // room goes to the next points.
  void done(std::size_t count) {
    std::lock_guard lock(mutex_);
    committed_ += count;
    changed_.notify_all();
  }

  // Stops the writer's wait (a stopping signal came); the first stop counts.
  void stop(int signal) {
    std::lock_guard lock(mutex_);
    if (signal_ == 0) signal_ = signal;
    stopping_ = signal_;
    changed_.notify_all();
  }
  // The signal that stopped the window, or 0; the same, for an append that
  // waits for a lock and checks it.
  int stopped() {
    std::lock_guard lock(mutex_);
    return signal_;
  }
  const std::atomic<int>* stopping() const { return &stopping_; }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Result> slots_;  // point i at i % window, until it is taken
  std::size_t next_, committed_, total_;  // points taken, points written
  int signal_ = 0;
  std::atomic<int> stopping_{0};
};

}  // namespace tilvex::grid
