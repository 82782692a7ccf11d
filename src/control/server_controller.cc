#include "control/server_controller.h"

#include <fmt/format.h>

#include <algorithm>

#include "core/display_text.h"
#include "core/l10n.h"
#include "core/log.h"

namespace vistaro {
namespace {

// What a phone's PIN pad can enter: an empty or otherwise odd stored PIN would lock every client out.
bool isEnterablePin(const std::string& pin) {
  return pin.size() == 6 && std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::shared_ptr<ServerController> ServerController::create(Dependencies dependencies) {
  std::shared_ptr<ServerController> controller(new ServerController(dependencies));
  controller->start();
  return controller;
}

ServerController::ServerController(Dependencies d)
    : main_(d.main), settings_(d.settings), hub_(d.hub), capturer_(d.capturer), platform_(d.platform),
      directID_(d.directID),
      savedBrightness_(d.settings),
      headless_(d.power ? std::make_unique<HeadlessDisplay>(HeadlessDisplay::Dependencies{
                              d.main, *d.power, savedBrightness_, std::move(d.injectedShortcutGraceUntil), d.screen})
                        : nullptr),
      sleepPrevention_(d.power ? std::make_unique<SleepPrevention>(d.main, *d.power->sleep) : nullptr),
      storedFrames_(d.settings),
      windowFitter_(d.windows && d.windowQueue
                        ? std::make_unique<WindowFitter>(WindowFitter::Dependencies{d.main, *d.windowQueue, *d.windows, storedFrames_})
                        : nullptr),
      windows_(d.windows),
      state_([&] {
        ControllerState initial;
        initial.hasPermission = d.platform.hasScreenCapturePermission();
        initial.hasInputPermission = d.platform.isInputTrusted();
        initial.listenerStatus = localized("起動中…");
        initial.directStatus = localized("モバイル回線：準備中…");
        return initial;
      }()) {
  hostName_ = platform_.hostName();
  if (hostName_.empty()) hostName_ = "Mac";
}

ServerController::~ServerController() {
  // A selection still waiting for its write is not lost with the process.
  if (unsavedDisplayID_) writeDisplayID();
}

void ServerController::start() {
  if (headless_) {
    headless_->restoreSavedBrightness();
    headless_->restoreSavedScreens();
  }
  report(settings_.loadProblem());
  std::optional<std::string> stored = settings_.pin();
  if (stored && !isEnterablePin(*stored)) {
    report("the stored PIN \"" + displayableText(*stored) + "\" is not six digits, which no phone can enter; made a new one");
    stored.reset();
  }
  const std::string pin = stored ? *stored : newPin();
  DisplayID selected = settings_.displayID().value_or(0);
  storePin(pin);
  if (selected == 0) selected = platform_.mainDisplayID().value_or(0);
  state_.update([&](ControllerState& s) {
    s.pin = pin;
    s.selectedDisplayID = selected;
  });
  hub_.setPin(pin);

  std::weak_ptr<ServerController> weak = weak_from_this();
  // Hub callbacks arrive on the hub queue and hop to the main executor.
  auto hop = [weak, &main = main_](auto work) {
    main.post([weak, work = std::move(work)]() mutable {
      if (auto self = weak.lock()) work(*self);
    });
  };
  HubPort::Callbacks callbacks;
  callbacks.clientsChanged = [hop](std::vector<std::string> names) {
    hop([names = std::move(names)](ServerController& self) mutable { self.clientsChanged(std::move(names)); });
  };
  callbacks.selectDisplay = [hop](DisplayID id) { hop([id](ServerController& self) { self.selectDisplay(id); }); };
  callbacks.inputPermissionMissing = [hop] { hop([](ServerController& self) { self.inputPermissionMissing(); }); };
  callbacks.listenerState = [hop](std::string status, std::optional<uint16_t> port) {
    hop([status = std::move(status), port](ServerController& self) {
      self.state_.update([&](ControllerState& s) {
        s.listenerStatus = status;
        s.port = port;
      });
    });
  };
  callbacks.authFailures = [hop](uint64_t count, std::string lastAddress) {
    hop([count, lastAddress = std::move(lastAddress)](ServerController& self) mutable {
      self.authFailures(count, std::move(lastAddress));
    });
  };
  callbacks.setHeadless = [hop](bool on) { hop([on](ServerController& self) { self.setPowerSaving(on); }); };
  callbacks.setFit = [hop](bool on) { hop([on](ServerController& self) { self.fitRequested(on); }); };
  callbacks.clientDisplay = [hop](const ClientDisplayMessage& message) {
    hop([message](ServerController& self) { self.clientDisplayChanged(message); });
  };
  hub_.setCallbacks(std::move(callbacks));
  if (headless_) {
    headless_->onPhysicalInput = [weak] {
      if (auto self = weak.lock()) self->physicalInput();
    };
    // Curtains the capture could see are kept out of it; the capturer's answer changes nothing here.
    headless_->onCurtainsChanged = [&capturer = capturer_] { capturer.enqueue(capturer.updateFilter()); };
  }

  // The frame path holds the hub, never the controller.
  capturer_.onFrame = [&hub = hub_](CapturedFrame frame) { hub.submit(std::move(frame)); };
  capturer_.onStop = [weak](std::optional<CaptureError> error) {
    if (auto self = weak.lock()) self->streamStopped(std::move(error));
  };

  hub_.start(hostName_);
  platform_.observeScreenChanges([weak] {
    if (auto self = weak.lock()) self->refreshDisplays();
  });
  if (state_.current().hasPermission) refreshDisplays();
  startFitWatch();
}

std::string ServerController::newPin() { return fmt::format("{:06d}", platform_.randomBelow(1'000'000)); }

void ServerController::storePin(const std::string& pin) { report(settings_.setPin(pin)); }

void ServerController::regeneratePin() {
  const std::string pin = newPin();
  storePin(pin);
  // The attempts so far were against the old PIN.
  failuresBeforeNewPin_ = failuresSeen_;
  state_.update([&](ControllerState& s) {
    s.pin = pin;
    s.failedPinAttempts = 0;
    s.failedPinAddress.clear();
  });
  hub_.setPin(pin);
}

void ServerController::authFailures(uint64_t count, std::string lastAddress) {
  failuresSeen_ = count;
  if (count <= failuresBeforeNewPin_) return;
  state_.update([&](ControllerState& s) {
    s.failedPinAttempts = count - failuresBeforeNewPin_;
    s.failedPinAddress = std::move(lastAddress);
  });
}

void ServerController::clientsChanged(std::vector<std::string> names) {
  const bool want = !names.empty();
  // Names are the clients' own words: never shown as they came.
  for (std::string& name : names) name = displayableText(name);
  state_.update([&](ControllerState& s) { s.clientNames = std::move(names); });
  if (sleepPrevention_) sleepPrevention_->set(want);
  if (want == wantCapture_) return;
  wantCapture_ = want;
  updateFitKeeper();
  if (want) {
    startCaptureTask();
  } else {
    stopCaptureTask();
  }
}

void ServerController::startCaptureTask() {
  if (startInFlight_) {
    startAgain_ = true;
    return;
  }
  startInFlight_ = true;
  startAgain_ = false;
  restartWork_.cancel();
  const uint64_t task = ++captureTask_;
  const DisplayID display = state_.current().selectedDisplayID;
  capturer_.enqueue(capturer_.start(display), [this, weak = weak_from_this(), task, display](
                                                  std::optional<CaptureError> error) {
    auto self = weak.lock();
    if (!self) return;
    startInFlight_ = false;
    // Asked for again meanwhile: a start that is already out of date is not worth reporting.
    if (std::exchange(startAgain_, false) && wantCapture_ &&
        (task != captureTask_ || display != state_.current().selectedDisplayID)) {
      startCaptureTask();
      return;
    }
    if (task != captureTask_) return;
    if (error) return captureFailed(*error);
    if (!wantCapture_) {
      capturer_.enqueue(capturer_.stop());
      return;
    }
    const DisplayID streamed = capturer_.displayID();
    nextDisplayLostRetry_ = kRetryWhileDisplayLost;
    broadcastCaptureError_.reset();
    state_.update([&](ControllerState& s) {
      s.capturing = true;
      s.lastError.reset();
      s.hasPermission = true;
      s.selectedDisplayID = streamed;  // the capturer falls back when the display has gone
    });
    refreshDisplays();
  });
}

void ServerController::captureFailed(const CaptureError& error) {
  const bool lost = error.code == CaptureError::Code::displayLost;
  // A lost display server is not a missing permission; it is tried again until it is back.
  const bool permitted = lost || platform_.hasScreenCapturePermission();
  const std::string text = !permitted ? localized("画面収録の許可が必要です") : error.description;
  state_.update([&](ControllerState& s) {
    s.capturing = false;
    s.hasPermission = permitted;
    s.lastError = text;
  });
  const std::string broadcast = text.empty() ? localized("キャプチャに失敗しました") : text;
  if (!lost) return hub_.broadcastError("capture", broadcast);
  // Retries while the server is away tell the clients once, not every few seconds.
  if (broadcast != broadcastCaptureError_) hub_.broadcastError("capture", broadcast);
  broadcastCaptureError_ = broadcast;
  retryCaptureLater(nextDisplayLostRetry_);
  nextDisplayLostRetry_ = std::min(nextDisplayLostRetry_ * 2, kLongestRetryWhileDisplayLost);
}

void ServerController::retryCaptureLater(Duration delay) {
  restartWork_.schedule(main_, delay, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (self && self->wantCapture_ && !self->state_.current().capturing) self->startCaptureTask();
  });
}

void ServerController::stopCaptureTask() {
  ++captureTask_;
  restartWork_.cancel();
  capturer_.enqueue(capturer_.stop(), [weak = weak_from_this()](std::optional<CaptureError>) {
    auto self = weak.lock();
    if (!self) return;
    self->state_.update([](ControllerState& s) { s.capturing = false; });
    self->hub_.clearLatest();
  });
}

void ServerController::streamStopped(std::optional<CaptureError> error) {
  state_.update([&](ControllerState& s) {
    s.capturing = false;
    if (wantCapture_) s.lastError = error ? std::optional(error->description) : std::nullopt;
  });
  // What the stream showed last is no longer the desktop: nobody new is served it as live.
  hub_.clearLatest();
  if (wantCapture_) retryCaptureLater(kRestartAfterSystemStop);
}

void ServerController::refreshDisplays() {
  capturer_.displays([weak = weak_from_this()](std::optional<CaptureError> error,
                                               ScreenCapturer::DisplayListing listing) {
    auto self = weak.lock();
    if (!self || error) return;
    self->state_.update([&](ControllerState& s) {
      s.displays = std::move(listing.displays);
      s.hasPermission = true;
      if (s.selectedDisplayID == 0) s.selectedDisplayID = listing.mainDisplay;
    });
    self->updateWelcome();
  });
}

void ServerController::updateWelcome() {
  const ControllerState& s = state_.current();
  WelcomeMessage welcome;
  welcome.hostName = hostName_;
  welcome.displays = s.displays;
  welcome.current = s.selectedDisplayID;
  welcome.headless = s.powerSaving;
  welcome.fit = s.fitting;
  if (!directID_.empty()) welcome.directID = directID_;
  hub_.setWelcome(std::move(welcome));
}

void ServerController::setDirectStatus(const std::string& text) {
  state_.update([&](ControllerState& s) { s.directStatus = text; });
}

void ServerController::recheckPermissions() {
  const bool screen = platform_.hasScreenCapturePermission();
  const bool input = platform_.isInputTrusted();
  state_.update([&](ControllerState& s) {
    s.hasPermission = screen;
    s.hasInputPermission = input;
  });
}

void ServerController::showError(const std::string& text) {
  logWarning("app", "{}", text);
  state_.update([&](ControllerState& s) { s.lastError = text; });
}

void ServerController::selectDisplay(DisplayID display) {
  const ControllerState& current = state_.current();
  if (display == current.selectedDisplayID) return;
  // A display nobody can see is no choice: the capturer would fall back and the next such
  // request would look like a change again.
  const bool known = std::any_of(current.displays.begin(), current.displays.end(),
                                 [&](const DisplayInfo& d) { return d.id == display; });
  if (!current.displays.empty() && !known) return;
  if (!current.fitting) storeDisplayID(display);
  streamDisplay(display);
}

// What the stream showed is of the old display: nobody new is served it, and watchers get the new one.
void ServerController::streamDisplay(DisplayID display) {
  state_.update([&](ControllerState& s) { s.selectedDisplayID = display; });
  hub_.clearLatest();
  if (wantCapture_) {
    startCaptureTask();
  } else {
    updateWelcome();
  }
}

void ServerController::storeDisplayID(DisplayID display) {
  unsavedDisplayID_ = display;
  const TimePoint now = main_.now();
  if (!lastDisplayIDWrite_ || now - *lastDisplayIDWrite_ >= kDisplaySettingInterval) return writeDisplayID();
  displayIDWrite_.schedule(main_, *lastDisplayIDWrite_ + kDisplaySettingInterval - now, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->writeDisplayID();
  });
}

void ServerController::writeDisplayID() {
  if (!unsavedDisplayID_) return;
  displayIDWrite_.cancel();
  report(settings_.setDisplayID(*std::exchange(unsavedDisplayID_, std::nullopt)));
  lastDisplayIDWrite_ = main_.now();
}

void ServerController::inputPermissionMissing() {
  state_.update([](ControllerState& s) { s.hasInputPermission = false; });
  if (didPromptInput_) return;
  didPromptInput_ = true;
  platform_.promptForInputPermission();
}

void ServerController::report(const std::optional<std::string>& problem) {
  if (!problem) return;
  logWarning("settings", "{}", *problem);
  state_.update([&](ControllerState& s) { s.lastError = *problem; });
}

}  // namespace vistaro
