#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "display/power_services.h"
#include "platform/linux/screensaver_inhibit.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// The desktop's screen saver held off over D-Bus where a service answers, and the X server's own
// screen saver and DPMS reset as if the user were active, again and again while held, since X has
// no way to hold them off.
class X11SleepInhibitor final : public SleepInhibitor {
 public:
  static constexpr Duration kActivityInterval = std::chrono::seconds(30);

  X11SleepInhibitor(Executor& main, std::string displayName) : main_(main), displayName_(std::move(displayName)) {}

  void inhibit() override;
  void release() override;
  void declareUserActivity() override;

 private:
  void keepAwake();

  Executor& main_;
  std::string displayName_;
  std::unique_ptr<Connection> connection_;
  ScreenSaverInhibit session_;
  DelayedWork repeat_;
  LifetimeGuard guard_;
};

}  // namespace vistaro::x11
