#pragma once
// The ordered window of a grid: workers take points in list order, at most
// `window` ahead of the writer (or `room` ahead while the results held
// are small), and the writer is given the results back in list order, as
// many consecutive ones as are ready. So at most `window` results (and
// their inputs) are held at once, however unevenly the points take their
// time, or `room` of them while they weigh less than `budget` bytes in all.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

namespace tilvex::grid {

template <typename Result>
class OrderedWindow {
 public:
  // Points `first` to `total` - 1 are to be done; 1 <= `window` <= `room`.
  OrderedWindow(std::size_t first, std::size_t total, std::size_t window, std::size_t room = 0,
                std::size_t budget = 0)
      : slots_(std::max(window, room)), weights_(slots_.size()), window_(window), budget_(budget),
        next_(first), committed_(first), total_(total) {}

  // For a worker: the next point in list order, once it is within the
  // window; none once every point is taken.
  std::optional<std::size_t> take() {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return next_ >= total_ || next_ < committed_ + allowed(); });
    if (next_ >= total_) return std::nullopt;
    const std::size_t i = next_++;
    wake_writer(lock);  // it may be waiting for the room to fill
    return i;
  }

  // For a worker: the result of point `i`, which it took, and what it
  // weighs (its input's bytes).
  void put(std::size_t i, Result result, std::size_t weight = 0) {
    std::unique_lock lock(mutex_);
    slots_[i % slots_.size()] = std::move(result);
    weights_[i % slots_.size()] = weight;
    held_ += weight;
    wake_writer(lock);
  }

  // For the writer: waits until the `wanted` results after the last batch
  // are ready (or the window is stopped). Then, for at most `linger`, it
  // waits for more while the workers are busy: while every one of the
  // `wanted` workers could still take a point and not every point is
  // taken. It then takes every consecutive ready one, in list order: fewer,
  // larger batches where the points are many and quick. Empty once
  // stopped. Their room is given back by done().
  std::vector<Result> batch(std::size_t wanted,
                            std::chrono::steady_clock::duration linger = std::chrono::steady_clock::duration{}) {
    std::unique_lock lock(mutex_);
    waits_ = Waits::ready;
    wanted_ = wanted;
    writer_.wait(lock, [&] { return writer_may_go(); });
    waits_ = Waits::room;
    writer_.wait_until(lock, std::chrono::steady_clock::now() + linger, [&] { return writer_may_go(); });
    waits_ = Waits::nothing;
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
    for (std::size_t k = 0; k < count; ++k, ++committed_) held_ -= weights_[committed_ % slots_.size()];
    room_.notify_all();
  }

  // Stops the writer's wait (a stopping signal came); the first stop counts.
  void stop(int signal) {
    std::lock_guard lock(mutex_);
    if (signal_ == 0) signal_ = signal;
    stopping_ = signal_;
    writer_.notify_all();
  }
  // The signal that stopped the window, or 0; the same, for an append that
  // waits for a lock and checks it.
  int stopped() {
    std::lock_guard lock(mutex_);
    return signal_;
  }
  const std::atomic<int>* stopping() const { return &stopping_; }

 private:
  // How far ahead of the writer the workers may take points now.
  std::size_t allowed() const { return held_ < budget_ ? slots_.size() : window_; }
  // How many of the first `wanted` results after the last batch are ready.
  std::size_t ready(std::size_t wanted) const {
    std::size_t n = 0;
    while (n < wanted && slots_[(committed_ + n) % slots_.size()]) ++n;
    return n;
  }

  // Whether what the writer waits for has come: the `wanted_` results
  // after the last batch ready; then, while it lingers, the room full or
  // every point taken. A stop ends either wait.
  bool writer_may_go() const {
    if (signal_ != 0) return true;
    if (waits_ == Waits::ready) return ready(wanted_) == wanted_;
    return next_ >= total_ || next_ + wanted_ >= committed_ + allowed();
  }
  // Wakes the writer once what it waits for has come, and only then: a
  // point taken or put wakes no one else (the workers wait only for room,
  // which done() gives), so the threads are not woken for nothing.
  void wake_writer(std::unique_lock<std::mutex>& lock) {
    const bool wake = waits_ != Waits::nothing && writer_may_go();
    lock.unlock();
    if (wake) writer_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable room_;    // the workers wait here for room
  std::condition_variable writer_;  // the writer waits here
  enum class Waits { nothing, ready, room } waits_ = Waits::nothing;  // what the writer waits for
  std::size_t wanted_ = 0;  // and how many results after the last batch
  std::vector<Result> slots_;  // point i at i % room, until it is taken
  std::vector<std::size_t> weights_;  // and what it weighs
  std::size_t window_, budget_;
  std::size_t held_ = 0;  // the weight of the results put and not yet written
  std::size_t next_, committed_, total_;  // points taken, points written
  int signal_ = 0;
  std::atomic<int> stopping_{0};
};

}  // namespace tilvex::grid
