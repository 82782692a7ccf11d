#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "display/power_services.h"
#include "display/saved_brightness.h"
#include "display/virtual_screen.h"

namespace vistaro {

// `cancelled`: overtaken by a newer switch; never shown to anyone.
enum class HeadlessError { needsAccessibility, virtualDisplayFailed, cancelled };
std::string describe(HeadlessError error);

// Power saving: the computer's own displays dimmed and covered while a phone works on an intact
// picture. Fit mode: the desktop switched to one display of the phone's size. Both end as soon as
// someone touches the computer, and are undone at the next start should the host die.
// Lives on the main executor.
class HeadlessDisplay {
 public:
  // Input right after power saving began is the click or key that began it, or its echo.
  static constexpr Duration kInputGrace = std::chrono::milliseconds(2000);
  static constexpr Duration kCurtainCheck = std::chrono::milliseconds(1200);
  // The screens changing size move the pointer and the windows: that is not someone at the computer.
  static constexpr Duration kSwitchGrace = std::chrono::milliseconds(4000);
  static constexpr Duration kSwitchedGrace = std::chrono::milliseconds(3000);

  using Switched = std::function<void(DisplayID display, std::optional<HeadlessError> error)>;

  struct Dependencies {
    Executor& main;
    PowerServices& power;
    SavedBrightness& saved;
    // Until then input is ignored: an injected shortcut can look like someone at the computer.
    std::function<TimePoint()> injectedShortcutGraceUntil;
    // Absent: the desktop cannot change its size, and fit mode is refused.
    VirtualScreen* screen = nullptr;
  };

  explicit HeadlessDisplay(Dependencies dependencies);
  // The displays come back when the host ends.
  ~HeadlessDisplay();
  HeadlessDisplay(const HeadlessDisplay&) = delete;
  HeadlessDisplay& operator=(const HeadlessDisplay&) = delete;

  // Brings back what an earlier run left dimmed or covered; once, at start, before anything else.
  void restoreSavedBrightness();
  // The same for the screens' configuration, after the brightness: the levels are those of its displays.
  void restoreSavedScreens();
  std::optional<HeadlessError> enablePowerSaving();
  void disablePowerSaving();
  bool powerSaving() const { return powerSaving_; }

  // `done` runs on the main executor, later, with the display the desktop now is or why not;
  // while on, gives the display at once.
  void createVirtualDisplay(VirtualSize size, Switched done);
  // Fails unless fit mode is on; the same size gives the same display.
  void resizeVirtualDisplay(VirtualSize size, Switched done);
  void removeVirtualDisplay();
  bool fitting() const { return fitting_; }
  const std::optional<VirtualSize>& currentSize() const { return currentSize_; }
  // How the desktop draws points: a display of N pixels is N / this points.
  double pixelsPerPoint() const { return screen_ ? screen_->pixelsPerPoint() : 1.0; }

  std::function<void()> onPhysicalInput;
  std::function<void()> onCurtainsChanged;

 private:
  void dim();
  void showCurtains();
  void checkCurtains();
  void physicalInput();
  struct PixelSize {
    int64_t width;
    int64_t height;
  };
  std::optional<PixelSize> pixelSizeOf(VirtualSize size);
  void switchScreen(VirtualSize size, PixelSize pixels, Switched done);
  void switched(int64_t generation, VirtualSize size, DisplayID display, const std::string& error, Switched done);
  void undim();
  void screensChanged();
  void endWatchUnlessNeeded();

  Executor& main_;
  PowerServices& power_;
  SavedBrightness& saved_;
  std::function<TimePoint()> shortcutGraceUntil_;
  std::map<DisplayID, float> dimmed_;
  TimePoint ignoreInputUntil_{};
  bool powerSaving_ = false;
  VirtualScreen* screen_;
  DisplayID virtualDisplay_ = 0;
  std::optional<VirtualSize> currentSize_;
  uint32_t nextSerial_ = 1;
  // Every switch and removal counts: a switch that finishes after a newer one began is out of date.
  int64_t displayGeneration_ = 0;
  int pendingSwitches_ = 0;
  bool fitting_ = false;
  DelayedWork curtainCheck_;
  LifetimeGuard guard_;
};

}  // namespace vistaro
