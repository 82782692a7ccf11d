#pragma once

#include <chrono>

#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "display/power_services.h"

namespace vistaro {

// Keeps the displays awake while clients are connected, and for a while after the last one left,
// so that a phone that comes back finds the screens as it left them. Main executor.
class SleepPrevention {
 public:
  static constexpr Duration kReleaseDelay = std::chrono::seconds(300);

  SleepPrevention(Executor& main, SleepInhibitor& inhibitor) : main_(main), inhibitor_(inhibitor) {}
  ~SleepPrevention();
  SleepPrevention(const SleepPrevention&) = delete;
  SleepPrevention& operator=(const SleepPrevention&) = delete;

  void set(bool on);

 private:
  Executor& main_;
  SleepInhibitor& inhibitor_;
  bool holding_ = false;
  DelayedWork release_;
  LifetimeGuard guard_;
};

}  // namespace vistaro
