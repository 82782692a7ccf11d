#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace vistaro {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

// A handle to delayed work. Cancelling is safe from any thread; work that has
// already started runs to its end.
class Cancellable {
 public:
  Cancellable() = default;
  explicit Cancellable(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}

  void cancel() const {
    if (flag_) flag_->store(true);
  }
  bool cancelled() const { return flag_ && flag_->load(); }

 private:
  std::shared_ptr<std::atomic<bool>> flag_;
};

// A serial queue: tasks run one at a time, in the order they were posted (or
// became due). Components confine their state to one executor.
class Executor {
 public:
  using Task = std::function<void()>;

  virtual ~Executor() = default;

  virtual void post(Task task) = 0;
  virtual Cancellable postAfter(Duration delay, Task task) = 0;
  virtual TimePoint now() const = 0;
  // True when called from a task of this executor.
  virtual bool isCurrent() const = 0;
};

// A follow-up that replaces its predecessor: scheduling cancels the pending one.
class DelayedWork {
 public:
  void schedule(Executor& executor, Duration delay, Executor::Task task) {
    pending_.cancel();
    pending_ = executor.postAfter(delay, std::move(task));
  }
  void cancel() { pending_.cancel(); }

 private:
  Cancellable pending_;
};

}  // namespace vistaro
