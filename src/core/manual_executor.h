#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "core/executor.h"

namespace vistaro {

// Virtual time for tests: nothing runs until the test drains or advances it.
class ManualExecutor final : public Executor {
 public:
  void post(Task task) override;
  Cancellable postAfter(Duration delay, Task task) override;
  TimePoint now() const override { return now_; }
  bool isCurrent() const override { return running_; }

  // Runs every task that is due now, including those they post for now.
  // Returns the number of tasks run.
  size_t runUntilIdle();
  // Moves time forward step by step through every due task, running each at its time.
  size_t advance(Duration by);
  size_t pendingCount() const { return tasks_.size(); }

 private:
  struct Entry {
    Task task;
    Cancellable handle;
  };
  bool runNext(TimePoint limit);

  TimePoint now_{};
  uint64_t order_ = 0;
  bool running_ = false;
  std::multimap<std::pair<TimePoint, uint64_t>, Entry> tasks_;
};

}  // namespace vistaro
