#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "core/executor.h"
#include "display/power_services.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// The XTest devices: every program that injects input (the host too) sends through them, so
// their events are nobody at the computer. Every other slave device is the computer's own.
std::set<int> injectingDevices(::Display* display);

// Someone at the computer, from XInput 2 raw events (keys, buttons, motion, touches), which the
// server sends whoever grabs what; read on a thread of its own while installed, listening again
// when the server comes back.
class X11PhysicalInput final : public PhysicalInputTap {
 public:
  // While the server is away, how often it is looked for again.
  static constexpr std::chrono::milliseconds kRelisten{2000};

  X11PhysicalInput(Executor& main, std::string displayName) : main_(main), displayName_(std::move(displayName)) {}
  ~X11PhysicalInput() override { remove(); }

  bool install(std::function<void()> touched) override;
  void remove() override;

 private:
  // Shared with the reading thread and the reports on their way, which outlive neither a removal nor us.
  struct Reports {
    std::function<void()> touched;  // main executor
    std::atomic<bool> pending{false};  // one report waits on the main executor at most
  };
  bool listen();
  void run(std::weak_ptr<Reports> reports);
  void readEvents(const std::weak_ptr<Reports>& reports);
  bool physical(const void* rawEvent) const;

  Executor& main_;
  std::string displayName_;
  std::unique_ptr<Connection> connection_;
  std::shared_ptr<Reports> reports_;
  std::set<int> injecting_;  // the reading thread's
  int wakeFd_ = -1;
  int opcode_ = 0;
  std::thread thread_;
};

}  // namespace vistaro::x11
