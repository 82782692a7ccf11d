#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/executor.h"
#include "core/lifetime_guard.h"

namespace vistaro::x11 {

// Tells when the window manager switches the current desktop (_NET_CURRENT_DESKTOP on the root),
// watched on the main executor over a connection of its own, which is opened again when its server
// comes back. Without an executor that can watch descriptors nothing is reported. Destroyed on the
// main executor's thread.
class X11DesktopSwitches {
 public:
  X11DesktopSwitches(Executor& main, std::string displayName);
  ~X11DesktopSwitches();

  // From any thread; `switched` runs on the main executor and replaces an earlier one.
  void observe(std::function<void()> switched);

 private:
  struct Watch;
  void start();
  void await();
  void readEvents();

  Executor& main_;
  std::string displayName_;
  // Main executor only.
  std::function<void()> switched_;
  std::unique_ptr<Watch> watch_;
  std::optional<unsigned long> current_;  // the last desktop a window manager named
  DelayedWork retry_;
  LifetimeGuard guard_;
};

}  // namespace vistaro::x11
