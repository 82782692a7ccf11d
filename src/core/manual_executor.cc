#include "core/manual_executor.h"

namespace vistaro {

void ManualExecutor::post(Task task) { postAfter(Duration::zero(), std::move(task)); }

Cancellable ManualExecutor::postAfter(Duration delay, Task task) {
  Cancellable handle(std::make_shared<std::atomic<bool>>(false));
  if (delay < Duration::zero()) delay = Duration::zero();
  tasks_.emplace(std::make_pair(now_ + delay, order_++), Entry{std::move(task), handle});
  return handle;
}

bool ManualExecutor::runNext(TimePoint limit) {
  while (!tasks_.empty()) {
    auto it = tasks_.begin();
    if (it->first.first > limit) return false;
    Entry entry = std::move(it->second);
    if (it->first.first > now_) now_ = it->first.first;
    tasks_.erase(it);
    if (entry.handle.cancelled()) continue;
    running_ = true;
    entry.task();
    running_ = false;
    return true;
  }
  return false;
}

size_t ManualExecutor::runUntilIdle() {
  size_t count = 0;
  while (runNext(now_)) ++count;
  return count;
}

size_t ManualExecutor::advance(Duration by) {
  const TimePoint target = now_ + by;
  size_t count = 0;
  while (runNext(target)) ++count;
  now_ = target;
  return count;
}

}  // namespace vistaro
