#pragma once

#include <memory>

#include <QObject>

#include "core/executor.h"

namespace vistaro {

// The main executor while the panel runs: tasks run in Qt's event loop on the thread that
// made this (the one running QApplication::exec), so the panel and the controller share it.
// Pending tasks and timers are dropped with it.
class QtMainExecutor final : public Executor {
 public:
  QtMainExecutor();
  ~QtMainExecutor() override;
  QtMainExecutor(const QtMainExecutor&) = delete;
  QtMainExecutor& operator=(const QtMainExecutor&) = delete;

  void post(Task task) override;
  Cancellable postAfter(Duration delay, Task task) override;
  TimePoint now() const override { return Clock::now(); }
  bool isCurrent() const override;

 private:
  void startTimer(Duration delay, std::shared_ptr<std::atomic<bool>> cancelled, Task task);

  std::unique_ptr<QObject> context_;
};

}  // namespace vistaro
