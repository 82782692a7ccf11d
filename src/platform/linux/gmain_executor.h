#pragma once

#include <string>
#include <thread>

#include "core/executor.h"

struct _GMainContext;
struct _GMainLoop;

namespace vistaro {

// A serial queue that is a GLib main loop on its own named thread, for libraries that
// deliver their events through GLib sources (libatspi, GDBus): their sources attached to
// context() run between its tasks.
class GMainExecutor final : public Executor {
 public:
  explicit GMainExecutor(std::string label);
  // Ends the loop after the tasks already posted and waits for the thread.
  ~GMainExecutor() override;
  GMainExecutor(const GMainExecutor&) = delete;
  GMainExecutor& operator=(const GMainExecutor&) = delete;

  void post(Task task) override;
  Cancellable postAfter(Duration delay, Task task) override;
  TimePoint now() const override { return Clock::now(); }
  bool isCurrent() const override { return std::this_thread::get_id() == thread_.get_id(); }

  _GMainContext* context() const { return context_; }

 private:
  void attach(unsigned delayMs, Task task);

  _GMainContext* context_;
  _GMainLoop* loop_;
  std::thread thread_;
};

}  // namespace vistaro
