#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace vistaro::testing {

// What another thread reports, taken in order by the test thread.
template <typename T>
class Mailbox {
 public:
  void put(T value) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(value));
    }
    changed_.notify_all();
  }

  // The next item, or nothing when none comes in time.
  std::optional<T> take(std::chrono::milliseconds patience = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, patience, [&] { return !items_.empty(); })) return std::nullopt;
    T value = std::move(items_.front());
    items_.pop_front();
    return value;
  }

  size_t size() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<T> items_;
};

}  // namespace vistaro::testing
