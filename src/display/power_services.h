#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/display_info.h"

namespace vistaro {

// The brightness of the computer's own displays, 0 (dark) to 1. Main executor.
class DisplayBrightness {
 public:
  virtual ~DisplayBrightness() = default;
  virtual std::vector<DisplayID> onlineDisplays() = 0;
  // Absent when this display's brightness cannot be read (and so is not changed either).
  virtual std::optional<float> brightness(DisplayID display) = 0;
  virtual void setBrightness(DisplayID display, float level) = 0;
};

// Black over every physical screen, while the picture the host captures stays as it is. Main executor.
class ScreenCurtains {
 public:
  virtual ~ScreenCurtains() = default;
  // Covers every screen there is now; shown again, covers the screens that came since.
  virtual void show() = 0;
  virtual void hide() = 0;
  // The curtains still cover exactly the screens there are (none came, none was uncovered behind our back).
  virtual bool coverScreens() = 0;
  // Uncovers what an earlier run of the host left covered when it died.
  virtual void clearLeftovers() = 0;
};

// Tells when someone uses this computer's own keyboard, mouse or touch screen; input that a
// program injected (the host's own among it) does not count. Main executor.
class PhysicalInputTap {
 public:
  virtual ~PhysicalInputTap() = default;
  // `touched` runs on the main executor, for input after this call; false when input cannot be watched.
  virtual bool install(std::function<void()> touched) = 0;
  virtual void remove() = 0;
};

// A process that starts the host again, restoring the displays, should this process die. Main executor.
class RelaunchWatchdog {
 public:
  virtual ~RelaunchWatchdog() = default;
  // Replaces a running one. A watchdog that cannot be started is no reason to refuse power saving.
  virtual void start() = 0;
  virtual void stop() = 0;
};

// Keeps the displays awake. Main executor.
class SleepInhibitor {
 public:
  virtual ~SleepInhibitor() = default;
  virtual void inhibit() = 0;
  virtual void release() = 0;
  // As if the user had just touched the computer: wakes the displays and restarts their idle time.
  virtual void declareUserActivity() = 0;
};

// What the platform offers for power saving: every part is there, doing nothing where the session lacks it.
// Members go in reverse order: the brightness may lean on the curtains.
struct PowerServices {
  std::unique_ptr<ScreenCurtains> curtains;
  std::unique_ptr<DisplayBrightness> brightness;
  std::unique_ptr<PhysicalInputTap> inputTap;
  std::unique_ptr<RelaunchWatchdog> watchdog;
  std::unique_ptr<SleepInhibitor> sleep;
};

}  // namespace vistaro
