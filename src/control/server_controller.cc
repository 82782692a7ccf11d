#include "control/server_controller.h"

#include <fmt/format.h>

#include "core/l10n.h"
#include "core/log.h"

namespace vistaro {

std::shared_ptr<ServerController> ServerController::create(Dependencies dependencies) {
  std::shared_ptr<ServerController> controller(new ServerController(dependencies));
  controller->start();
  return controller;
}

ServerController::ServerController(Dependencies d)
    : main_(d.main), settings_(d.settings), hub_(d.hub), capturer_(d.capturer), platform_(d.platform),
      state_([&] {
        ControllerState initial;
        initial.hasPermission = d.platform.hasScreenCapturePermission();
        initial.hasInputPermission = d.platform.isInputTrusted();
        initial.listenerStatus = localized("起動中…");
        return initial;
      }()) {
  hostName_ = platform_.hostName();
  if (hostName_.empty()) hostName_ = "Mac";
}

void ServerController::start() {
  report(settings_.loadProblem());
  const std::string pin = settings_.pin().value_or(newPin());
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
  hub_.setCallbacks(std::move(callbacks));

  // The frame path holds the detector and the hub, never the controller.
  capturer_.onFrame = [detector = detector_, &hub = hub_](SharedPixels buffer, DisplayID display,
                                                          std::optional<std::vector<Rect>> dirty, double scale) {
    auto changes = detector->detectChanges(buffer, display, std::move(dirty));
    if (changes && changes->empty()) return;
    hub.submit(std::move(buffer), display, scale, std::move(changes));
  };
  capturer_.onStop = [weak](std::optional<CaptureError> error) {
    if (auto self = weak.lock()) self->streamStopped(std::move(error));
  };

  hub_.start(hostName_);
  platform_.observeScreenChanges([weak] {
    if (auto self = weak.lock()) self->refreshDisplays();
  });
  if (state_.current().hasPermission) refreshDisplays();
}

std::string ServerController::newPin() { return fmt::format("{:06d}", platform_.randomBelow(1'000'000)); }

void ServerController::storePin(const std::string& pin) { report(settings_.setPin(pin)); }

void ServerController::regeneratePin() {
  const std::string pin = newPin();
  storePin(pin);
  state_.update([&](ControllerState& s) { s.pin = pin; });
  hub_.setPin(pin);
}

void ServerController::clientsChanged(std::vector<std::string> names) {
  const bool want = !names.empty();
  state_.update([&](ControllerState& s) { s.clientNames = std::move(names); });
  if (want == wantCapture_) return;
  wantCapture_ = want;
  if (want) {
    startCaptureTask();
  } else {
    stopCaptureTask();
  }
}

void ServerController::startCaptureTask() {
  const uint64_t task = ++captureTask_;
  const DisplayID display = state_.current().selectedDisplayID;
  capturer_.enqueue(capturer_.start(display), [this, weak = weak_from_this(), task](std::optional<CaptureError> error) {
    auto self = weak.lock();
    if (!self || task != captureTask_) return;
    if (!error) {
      if (!wantCapture_) {
        capturer_.enqueue(capturer_.stop());
        return;
      }
      const DisplayID streamed = capturer_.displayID();
      state_.update([&](ControllerState& s) {
        s.capturing = true;
        s.lastError.reset();
        s.hasPermission = true;
        s.selectedDisplayID = streamed;  // the capturer falls back when the display has gone
      });
      refreshDisplays();
      return;
    }
    const bool permitted = platform_.hasScreenCapturePermission();
    const std::string text = !permitted ? localized("画面収録の許可が必要です") : error->description;
    state_.update([&](ControllerState& s) {
      s.capturing = false;
      s.hasPermission = permitted;
      s.lastError = text;
    });
    hub_.broadcastError("capture", text.empty() ? localized("キャプチャに失敗しました") : text);
  });
}

void ServerController::stopCaptureTask() {
  ++captureTask_;
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
  if (!wantCapture_) return;
  restartWork_.schedule(main_, kRestartAfterSystemStop, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (self && self->wantCapture_ && !self->state_.current().capturing) self->startCaptureTask();
  });
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
  hub_.setWelcome(std::move(welcome));
}

void ServerController::selectDisplay(DisplayID display) {
  if (display == state_.current().selectedDisplayID) return;
  if (!state_.current().fitting) report(settings_.setDisplayID(display));
  state_.update([&](ControllerState& s) { s.selectedDisplayID = display; });
  hub_.clearLatest();
  if (wantCapture_) {
    startCaptureTask();
  } else {
    updateWelcome();
  }
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
