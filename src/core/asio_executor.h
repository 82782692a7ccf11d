#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <optional>
#include <string>
#include <thread>

#include "core/executor.h"

namespace vistaro {

// A serial queue on its own named thread, or on the thread that calls run().
// Sockets that belong to a component are created on context() so that their
// handlers run on the component's queue.
class AsioExecutor final : public Executor {
 public:
  enum class Thread { own, caller };

  // The label is the thread's name, truncated to the 15 characters Linux keeps.
  explicit AsioExecutor(std::string label, Thread thread = Thread::own);
  ~AsioExecutor() override;
  AsioExecutor(const AsioExecutor&) = delete;
  AsioExecutor& operator=(const AsioExecutor&) = delete;

  void post(Task task) override;
  Cancellable postAfter(Duration delay, Task task) override;
  TimePoint now() const override { return Clock::now(); }
  bool isCurrent() const override;

  asio::io_context& context() { return context_; }
  const std::string& label() const { return label_; }

  // For Thread::caller: runs tasks on the calling thread until stop().
  void run();
  void stop();
  // Stops and waits for the own thread to finish its current task.
  void shutdown();

 private:
  std::string label_;
  mutable asio::io_context context_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard_;
  std::thread thread_;
};

}  // namespace vistaro
