#pragma once

// For integration tests whose components run on an AsioExecutor's own thread:
// run work there and wait for it, and wait for events recorded there.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "core/executor.h"

namespace vistaro::testing {

template <typename Work>
auto runOn(Executor& executor, Work work) {
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  executor.post([&task] { task(); });
  return result.get();
}

class CrossThreadEvents {
 public:
  static constexpr auto kPatience = std::chrono::seconds(10);

  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  bool waitFor(const std::string& event) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return contains(event); });
  }
  bool seen(const std::string& event) {
    std::lock_guard lock(mutex_);
    return contains(event);
  }

 private:
  bool contains(const std::string& event) const {
    return std::find(events_.begin(), events_.end(), event) != events_.end();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

}  // namespace vistaro::testing
