#include "display/headless_display.h"

#include <algorithm>

#include "core/l10n.h"
#include "core/log.h"

namespace vistaro {

std::string describe(HeadlessError error) {
  switch (error) {
    case HeadlessError::needsAccessibility:
      return localized("省電力モードには「アクセシビリティ」の許可が必要です（手元の操作で画面を戻すため）");
  }
  return {};
}

HeadlessDisplay::HeadlessDisplay(Dependencies d)
    : main_(d.main), power_(d.power), saved_(d.saved), shortcutGraceUntil_(std::move(d.injectedShortcutGraceUntil)) {}

HeadlessDisplay::~HeadlessDisplay() { disablePowerSaving(); }

void HeadlessDisplay::restoreSavedBrightness() {
  const std::optional<std::map<uint32_t, float>> levels = saved_.load();
  if (!levels) return;
  logInfo("power", "restoring {} display(s) that an earlier run left dimmed", levels->size());
  power_.curtains->clearLeftovers();
  // Entries that name no display or no level were dropped when read: the others still come back.
  for (const auto& [display, level] : *levels) power_.brightness->setBrightness(display, std::clamp(level, 0.0f, 1.0f));
  if (auto problem = saved_.store(std::nullopt)) logWarning("power", "{}", *problem);
}

std::optional<HeadlessError> HeadlessDisplay::enablePowerSaving() {
  if (powerSaving_) return std::nullopt;
  if (!power_.inputTap->install(guard_.wrap([this] { physicalInput(); }))) return HeadlessError::needsAccessibility;
  ignoreInputUntil_ = main_.now() + kInputGrace;
  dim();
  power_.watchdog->start();
  powerSaving_ = true;
  showCurtains();
  return std::nullopt;
}

// The levels are on disk before any display goes dark: a crash in between must not lose them.
void HeadlessDisplay::dim() {
  std::vector<DisplayID> dimming;
  for (DisplayID display : power_.brightness->onlineDisplays()) {
    const std::optional<float> level = power_.brightness->brightness(display);
    if (!level) continue;
    dimmed_[display] = *level;
    dimming.push_back(display);
  }
  if (auto problem = saved_.store(std::map<uint32_t, float>(dimmed_.begin(), dimmed_.end()))) {
    logWarning("power", "{}", *problem);
  }
  for (DisplayID display : dimming) power_.brightness->setBrightness(display, 0.0f);
}

void HeadlessDisplay::disablePowerSaving() {
  if (!powerSaving_) return;
  powerSaving_ = false;
  curtainCheck_.cancel();
  power_.curtains->hide();
  for (const auto& [display, level] : dimmed_) power_.brightness->setBrightness(display, level);
  dimmed_.clear();
  if (auto problem = saved_.store(std::nullopt)) logWarning("power", "{}", *problem);
  power_.watchdog->stop();
  power_.inputTap->remove();
}

void HeadlessDisplay::showCurtains() {
  if (!powerSaving_) return;
  power_.curtains->show();
  if (onCurtainsChanged) onCurtainsChanged();
  curtainCheck_.schedule(main_, kCurtainCheck, guard_.wrap([this] { checkCurtains(); }));
}

// Checked for as long as power saving lasts: a screen plugged in later, or a program that sets the
// screens' colours again (night-light tools do), must not light up a screen that should be dark.
void HeadlessDisplay::checkCurtains() {
  if (!powerSaving_) return;
  if (!power_.curtains->coverScreens()) return showCurtains();
  curtainCheck_.schedule(main_, kCurtainCheck, guard_.wrap([this] { checkCurtains(); }));
}

void HeadlessDisplay::physicalInput() {
  if (!powerSaving_) return;
  const TimePoint now = main_.now();
  if (now <= ignoreInputUntil_ || (shortcutGraceUntil_ && now <= shortcutGraceUntil_())) return;
  if (onPhysicalInput) onPhysicalInput();
}

}  // namespace vistaro
