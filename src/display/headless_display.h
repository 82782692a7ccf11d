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

namespace vistaro {

enum class HeadlessError { needsAccessibility };
std::string describe(HeadlessError error);

// Power saving: the computer's own displays dimmed and covered while a phone works on an intact
// picture, and back as soon as someone touches the computer, or at the next start should the host die.
// Lives on the main executor.
class HeadlessDisplay {
 public:
  // Input right after power saving began is the click or key that began it, or its echo.
  static constexpr Duration kInputGrace = std::chrono::milliseconds(2000);
  static constexpr Duration kCurtainCheck = std::chrono::milliseconds(1200);

  struct Dependencies {
    Executor& main;
    PowerServices& power;
    SavedBrightness& saved;
    // Until then input is ignored: an injected shortcut can look like someone at the computer.
    std::function<TimePoint()> injectedShortcutGraceUntil;
  };

  explicit HeadlessDisplay(Dependencies dependencies);
  // The displays come back when the host ends.
  ~HeadlessDisplay();
  HeadlessDisplay(const HeadlessDisplay&) = delete;
  HeadlessDisplay& operator=(const HeadlessDisplay&) = delete;

  // Brings back what an earlier run left dimmed or covered; once, at start, before anything else.
  void restoreSavedBrightness();
  std::optional<HeadlessError> enablePowerSaving();
  void disablePowerSaving();
  bool powerSaving() const { return powerSaving_; }

  std::function<void()> onPhysicalInput;
  std::function<void()> onCurtainsChanged;

 private:
  void dim();
  void showCurtains();
  void checkCurtains();
  void physicalInput();

  Executor& main_;
  PowerServices& power_;
  SavedBrightness& saved_;
  std::function<TimePoint()> shortcutGraceUntil_;
  std::map<DisplayID, float> dimmed_;
  TimePoint ignoreInputUntil_{};
  bool powerSaving_ = false;
  DelayedWork curtainCheck_;
  LifetimeGuard guard_;
};

}  // namespace vistaro
