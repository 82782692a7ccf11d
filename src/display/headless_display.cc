#include "display/headless_display.h"

#include <algorithm>
#include <cmath>

#include "core/l10n.h"
#include "core/log.h"

namespace vistaro {

std::string describe(HeadlessError error) {
  switch (error) {
    case HeadlessError::needsAccessibility:
      return localized("省電力モードには「アクセシビリティ」の許可が必要です（手元の操作で画面を戻すため）");
    case HeadlessError::virtualDisplayFailed:
      return localized("仮想ディスプレイを作れませんでした");
    case HeadlessError::cancelled:
      return {};
  }
  return {};
}

namespace {

// Screens no display server draws: beyond 16 bits of pixels, or empty.
constexpr int64_t kLargestSide = 32767;

std::optional<int64_t> pixelsOf(int64_t points, double pixelsPerPoint) {
  const double pixels = std::round(static_cast<double>(points) * pixelsPerPoint);
  if (!(pixels >= 1 && pixels <= kLargestSide)) return std::nullopt;
  return static_cast<int64_t>(pixels);
}

}  // namespace

HeadlessDisplay::HeadlessDisplay(Dependencies d)
    : main_(d.main), power_(d.power), saved_(d.saved), shortcutGraceUntil_(std::move(d.injectedShortcutGraceUntil)),
      screen_(d.screen) {}

HeadlessDisplay::~HeadlessDisplay() {
  removeVirtualDisplay();
  disablePowerSaving();
}

void HeadlessDisplay::restoreSavedBrightness() {
  const std::optional<std::map<uint32_t, float>> levels = saved_.load();
  if (!levels) return;
  logInfo("power", "restoring {} display(s) that an earlier run left dimmed", levels->size());
  power_.curtains->clearLeftovers();
  // Entries that name no display or no level were dropped when read: the others still come back.
  for (const auto& [display, level] : *levels) power_.brightness->setBrightness(display, std::clamp(level, 0.0f, 1.0f));
  if (auto problem = saved_.store(std::nullopt)) logWarning("power", "{}", *problem);
}

void HeadlessDisplay::restoreSavedScreens() {
  if (screen_) screen_->restoreLeftovers();
}

std::optional<HeadlessError> HeadlessDisplay::enablePowerSaving() {
  if (powerSaving_) return std::nullopt;
  if (!power_.inputTap->install(guard_.wrap([this] { physicalInput(); }))) return HeadlessError::needsAccessibility;
  ignoreInputUntil_ = main_.now() + kInputGrace;
  dim();
  if (!fitting_) power_.watchdog->start();
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
  undim();
  if (auto problem = saved_.store(std::nullopt)) logWarning("power", "{}", *problem);
  endWatchUnlessNeeded();
}

void HeadlessDisplay::undim() {
  for (const auto& [display, level] : dimmed_) power_.brightness->setBrightness(display, level);
  dimmed_.clear();
}

// The tap and the watchdog serve both modes.
void HeadlessDisplay::endWatchUnlessNeeded() {
  if (powerSaving_ || fitting_ || pendingSwitches_ > 0) return;
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

void HeadlessDisplay::createVirtualDisplay(VirtualSize size, Switched done) {
  if (fitting_) return main_.post([display = virtualDisplay_, done = std::move(done)] { done(display, std::nullopt); });
  const std::optional<PixelSize> pixels = pixelSizeOf(size);
  if (!pixels) return main_.post([done = std::move(done)] { done(0, HeadlessError::virtualDisplayFailed); });
  if (!power_.inputTap->install(guard_.wrap([this] { physicalInput(); }))) {
    return main_.post([done = std::move(done)] { done(0, HeadlessError::needsAccessibility); });
  }
  switchScreen(size, *pixels, std::move(done));
}

void HeadlessDisplay::resizeVirtualDisplay(VirtualSize size, Switched done) {
  if (!fitting_) return main_.post([done = std::move(done)] { done(0, HeadlessError::virtualDisplayFailed); });
  if (size == currentSize_) {
    return main_.post([display = virtualDisplay_, done = std::move(done)] { done(display, std::nullopt); });
  }
  const std::optional<PixelSize> pixels = pixelSizeOf(size);
  if (!pixels) return main_.post([done = std::move(done)] { done(0, HeadlessError::virtualDisplayFailed); });
  switchScreen(size, *pixels, std::move(done));
}

// Sizes no display server draws are refused before anything is touched.
std::optional<HeadlessDisplay::PixelSize> HeadlessDisplay::pixelSizeOf(VirtualSize size) {
  const double scale = screen_ ? screen_->pixelsPerPoint() : 0;
  const std::optional<int64_t> width = pixelsOf(size.width, scale);
  const std::optional<int64_t> height = pixelsOf(size.height, scale);
  if (width && height) return PixelSize{*width, *height};
  logWarning("fit", "no display of {} x {} points can be made here", size.width, size.height);
  return std::nullopt;
}

void HeadlessDisplay::switchScreen(VirtualSize size, PixelSize pixels, Switched done) {
  ignoreInputUntil_ = main_.now() + kSwitchGrace;
  const int64_t generation = ++displayGeneration_;
  if (!fitting_ && !powerSaving_ && pendingSwitches_ == 0) power_.watchdog->start();
  ++pendingSwitches_;
  // Levels belong to displays: the ones that are about to go get theirs back first (still covered).
  if (powerSaving_) undim();
  screen_->show(pixels.width, pixels.height, nextSerial_++,
                guard_.wrap([this, generation, size, done = std::move(done)](std::optional<DisplayID> display,
                                                                              std::string error) {
                  switched(generation, size, display.value_or(0), error, done);
                }));
}

void HeadlessDisplay::switched(int64_t generation, VirtualSize size, DisplayID display, const std::string& error,
                               Switched done) {
  --pendingSwitches_;
  const bool current = generation == displayGeneration_ && error.empty();
  if (current) {
    virtualDisplay_ = display;
    currentSize_ = size;
    fitting_ = true;
    screen_->centreCursor(display);
  } else if (error.empty() && !fitting_ && pendingSwitches_ == 0) {
    screen_->restore();  // switched, but fit mode was ended meanwhile
  }
  screensChanged();
  endWatchUnlessNeeded();
  if (!error.empty()) {
    logWarning("fit", "the screen could not take the client's size: {}", error);
    return done(0, HeadlessError::virtualDisplayFailed);
  }
  if (!current) return done(0, HeadlessError::cancelled);
  ignoreInputUntil_ = main_.now() + kSwitchedGrace;
  done(display, std::nullopt);
}

void HeadlessDisplay::removeVirtualDisplay() {
  ++displayGeneration_;
  if (!fitting_) return;
  fitting_ = false;
  currentSize_.reset();
  virtualDisplay_ = 0;
  if (powerSaving_) undim();
  screen_->restore();
  screen_->centreCursor(std::nullopt);
  screensChanged();
  endWatchUnlessNeeded();
}

// Other displays now: dimmed and covered again while power saving lasts.
void HeadlessDisplay::screensChanged() {
  if (!powerSaving_) return;
  if (dimmed_.empty()) dim();
  showCurtains();
}

void HeadlessDisplay::physicalInput() {
  if (!powerSaving_ && !fitting_) return;
  const TimePoint now = main_.now();
  if (now <= ignoreInputUntil_ || (shortcutGraceUntil_ && now <= shortcutGraceUntil_())) return;
  if (onPhysicalInput) onPhysicalInput();
}

}  // namespace vistaro
