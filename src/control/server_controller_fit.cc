// Power saving and fit mode: what the controller does to the computer's own screens while a client works.
#include <algorithm>

#include "control/server_controller.h"
#include "control/virtual_size.h"
#include "core/log.h"

namespace vistaro {

void ServerController::setPowerSaving(bool on) {
  if (!headless_ || on == state_.current().powerSaving) return;
  if (on) {
    if (const std::optional<HeadlessError> error = headless_->enablePowerSaving()) {
      noticeFailure(describe(*error));
      return updateWelcome();
    }
  } else {
    headless_->disablePowerSaving();
  }
  state_.update([&](ControllerState& s) { s.powerSaving = on; });
  updateWelcome();
}

void ServerController::noticeFailure(const std::string& text) {
  state_.update([&](ControllerState& s) { s.lastError = text; });
  hub_.broadcastError("notice", text);
}

// Someone at the computer wants its screens back.
void ServerController::physicalInput() {
  const ControllerState& s = state_.current();
  if (s.fitStarting) {
    fitOffQueued_ = true;
  } else if (s.fitting) {
    stopFit();
  }
  if (!state_.current().powerSaving) return;
  headless_->disablePowerSaving();
  state_.update([](ControllerState& s) { s.powerSaving = false; });
  updateWelcome();
}

void ServerController::fitRequested(bool on) {
  if (state_.current().fitStarting) {
    fitOffQueued_ = !on;
    return;
  }
  if (on == state_.current().fitting) return;
  on ? startFit() : stopFit();
}

VirtualSize ServerController::virtualSize() {
  const ControllerState& s = state_.current();
  const DisplayID main = platform_.mainDisplayID().value_or(s.selectedDisplayID);
  auto display = std::find_if(s.displays.begin(), s.displays.end(), [&](const DisplayInfo& d) { return d.id == main; });
  VirtualSize fallback;
  if (display != s.displays.end()) {
    const double scale = headless_->pixelsPerPoint();
    fallback = {static_cast<int64_t>(display->width / scale), static_cast<int64_t>(display->height / scale), false};
  }
  return virtualSizeFor(clientDisplay_, fallback);
}

void ServerController::startFit() {
  const ControllerState& s = state_.current();
  // One switch at a time: a second would overtake the first and leave the desktop half done.
  if (!headless_ || shuttingDown_ || s.fitting || s.fitStarting) return;
  restoreWork_.cancel();
  fitOffQueued_ = false;
  const uint64_t generation = ++fitGeneration_;
  state_.update([](ControllerState& s) { s.fitStarting = true; });
  auto create = [this, generation, weak = weak_from_this()] {
    if (!weak.lock()) return;
    headless_->createVirtualDisplay(virtualSize(), [weak, generation](DisplayID display, std::optional<HeadlessError> error) {
      if (auto self = weak.lock()) self->fitStarted(generation, display, error);
    });
  };
  if (!windowFitter_) return create();
  windowFitter_->remember(std::move(create));
}

void ServerController::fitStarted(uint64_t generation, DisplayID display, std::optional<HeadlessError> error) {
  state_.update([](ControllerState& s) { s.fitStarting = false; });
  if (error) {
    fitOffQueued_ = false;
    if (windowFitter_) windowFitter_->restore({});
    if (*error != HeadlessError::cancelled) noticeFailure(describe(*error));
    return updateWelcome();
  }
  if (generation != fitGeneration_) return headless_->removeVirtualDisplay();
  displayBeforeFit_ = state_.current().selectedDisplayID;
  state_.update([](ControllerState& s) { s.fitting = true; });
  updateFitKeeper();
  showFitDisplay(display);
  if (std::exchange(fitOffQueued_, false)) return stopFit();
  scheduleWindowFit(display);
}

// The display the desktop now is becomes the one streamed.
void ServerController::showFitDisplay(DisplayID display) {
  streamDisplay(display);
  refreshDisplays();
}

void ServerController::scheduleWindowFit(DisplayID display) {
  if (!windowFitter_) return;
  const bool fill = clientDisplay_ ? clientDisplay_->fillWindow : true;
  for (Duration delay : {kFirstWindowFit, kSecondWindowFit}) {
    main_.postAfter(delay, [weak = weak_from_this(), display, fill] {
      auto self = weak.lock();
      if (self && self->state_.current().fitting && self->state_.current().selectedDisplayID == display) {
        self->windowFitter_->fit(display, fill);
      }
    });
  }
}

void ServerController::stopFit() {
  if (!headless_) return;
  const uint64_t generation = ++fitGeneration_;
  resizeWork_.cancel();
  headless_->removeVirtualDisplay();
  state_.update([](ControllerState& s) { s.fitting = false; });
  updateFitKeeper();
  restoreWork_.schedule(main_, kWindowRestoreDelay, [weak = weak_from_this(), generation] {
    auto self = weak.lock();
    if (!self || !self->windowFitter_) return;
    const ControllerState& s = self->state_.current();
    if (!s.fitting && !s.fitStarting && self->fitGeneration_ == generation) self->windowFitter_->restore({});
  });
  const DisplayID before = displayBeforeFit_.value_or(platform_.mainDisplayID().value_or(0));
  displayBeforeFit_.reset();
  streamDisplay(before);
  main_.postAfter(kDisplayRefreshAfterFit, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->refreshDisplays();
  });
}

void ServerController::clientDisplayChanged(const ClientDisplayMessage& message) {
  if (clientDisplay_ == message) return;
  clientDisplay_ = message;
  if (!state_.current().fitting) return;
  resizeWork_.schedule(main_, kResizeDebounce, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->resizeFitDisplay();
  });
}

void ServerController::resizeFitDisplay() {
  if (!state_.current().fitting) return;
  const VirtualSize size = virtualSize();
  if (headless_->currentSize() == size) return scheduleWindowFit(state_.current().selectedDisplayID);
  const uint64_t generation = fitGeneration_;
  headless_->resizeVirtualDisplay(size, [weak = weak_from_this(), generation](DisplayID display,
                                                                            std::optional<HeadlessError> error) {
    auto self = weak.lock();
    if (!self) return;
    if (error) {
      if (*error != HeadlessError::cancelled) {
        self->state_.update([&](ControllerState& s) { s.lastError = describe(*error); });
      }
      return;
    }
    if (!self->state_.current().fitting || self->fitGeneration_ != generation) return;
    self->showFitDisplay(display);
    self->scheduleWindowFit(display);
  });
}

// While the desktop is fitted and someone watches: windows that appear or wander off are fitted again.
void ServerController::updateFitKeeper() {
  const bool wanted = windowFitter_ && state_.current().fitting && wantCapture_;
  if (wanted == keeperRunning_) return;
  keeperRunning_ = wanted;
  wanted ? scheduleKeep() : fitKeeper_.cancel();
}

void ServerController::scheduleKeep() {
  fitKeeper_.schedule(main_, kKeepInterval, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->keepWindows();
    self->scheduleKeep();
  });
}

void ServerController::keepWindows() {
  if (windowFitter_ && state_.current().fitting) windowFitter_->keep(state_.current().selectedDisplayID);
}

void ServerController::startFitWatch() {
  if (!windowFitter_) return;
  windows_->observeDesktopSwitches([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self || !self->state_.current().fitting) return;
    // The window manager shows the other desktop's windows first, then they can be fitted.
    for (Duration delay : {kFirstKeepAfterDesktopSwitch, kSecondKeepAfterDesktopSwitch}) {
      self->main_.postAfter(delay, [weak] {
        if (auto self = weak.lock()) self->keepWindows();
      });
    }
  });
  // An earlier run died with the windows fitted.
  if (!windowFitter_->hasStoredFrames()) return;
  main_.postAfter(kLeftoverWindowRestore, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self || self->shuttingDown_) return;
    const ControllerState& s = self->state_.current();
    if (!s.fitting && !s.fitStarting) self->windowFitter_->restore({});
  });
}

void ServerController::shutDown(std::function<void()> finished) {
  shuttingDown_ = true;
  const bool wait = state_.current().fitting || (headless_ && headless_->fitting());
  ++fitGeneration_;
  resizeWork_.cancel();
  restoreWork_.cancel();
  fitKeeper_.cancel();
  if (headless_) {
    headless_->removeVirtualDisplay();
    headless_->disablePowerSaving();
  }
  state_.update([](ControllerState& s) {
    s.fitting = false;
    s.powerSaving = false;
  });
  if (!windowFitter_ || (!wait && !windowFitter_->hasStoredFrames())) return main_.post(std::move(finished));
  main_.postAfter(kShutdownSettle, [weak = weak_from_this(), finished = std::move(finished)]() mutable {
    auto self = weak.lock();
    if (!self) return finished();
    self->windowFitter_->restore(std::move(finished));
  });
}

}  // namespace vistaro
