#pragma once

// For tests whose components run on threads of their own (AsioExecutor): run work there and
// wait for it, take what those threads report, and wait for a condition.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "core/executor.h"

namespace vistaro::testing {

// The machine may be busy: patience, not speed, is what these waits are about.
inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(10);

template <typename Work>
auto runOn(Executor& executor, Work work) {
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  executor.post([&task] { task(); });
  return result.get();
}

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
  std::optional<T> take(std::chrono::milliseconds patience = kPatience) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, patience, [&] { return !items_.empty(); })) return std::nullopt;
    T value = std::move(items_.front());
    items_.pop_front();
    return value;
  }
  // The next item that satisfies the condition; the others before it are dropped.
  template <typename Condition>
  std::optional<T> takeUntil(Condition condition, std::chrono::milliseconds patience = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      std::optional<T> item = take(std::max(left, std::chrono::milliseconds(0)));
      if (!item || condition(*item)) return item;
    }
  }
  size_t size() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }
  void clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<T> items_;
};

// Polls the condition until it holds or the time is up.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds patience = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace vistaro::testing
