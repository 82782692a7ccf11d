#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "capture/screen_capturer.h"
#include "control/controller_platform.h"
#include "control/hub_port.h"
#include "control/settings_store.h"
#include "control/stored_brightness.h"
#include "control/state_publisher.h"
#include "core/executor.h"
#include "display/headless_display.h"
#include "display/sleep_prevention.h"

namespace vistaro {

// The host's centre: decides when to capture which display, keeps the welcome
// current and publishes state. All of its state lives on the main executor.
class ServerController : public std::enable_shared_from_this<ServerController> {
 public:
  static constexpr Duration kRestartAfterSystemStop = std::chrono::seconds(2);
  // While the display server is away, capture is tried again after this, doubling up to the longest.
  static constexpr Duration kRetryWhileDisplayLost = std::chrono::seconds(2);
  static constexpr Duration kLongestRetryWhileDisplayLost = std::chrono::seconds(30);
  // A client switching displays in a loop rewrites the settings file at most this often.
  static constexpr Duration kDisplaySettingInterval = std::chrono::seconds(1);

  struct Dependencies {
    Executor& main;
    SettingsStore& settings;
    HubPort& hub;
    ScreenCapturer& capturer;
    ControllerPlatform& platform;
    // Absent: this desktop cannot save power, and the phone's switch changes nothing.
    PowerServices* power = nullptr;
    std::function<TimePoint()> injectedShortcutGraceUntil;
    // The direct path's ID, told to every client in the welcome; empty: none.
    std::string directID;
  };

  // Builds, wires and starts everything; call on the main executor.
  static std::shared_ptr<ServerController> create(Dependencies dependencies);
  ~ServerController();
  ServerController(const ServerController&) = delete;
  ServerController& operator=(const ServerController&) = delete;

  StatePublisher& state() { return state_; }
  const std::string& hostName() const { return hostName_; }

  // Panel and console actions, on the main executor.
  void regeneratePin();
  void selectDisplay(DisplayID display);
  // The direct agent's latest status text.
  void setDirectStatus(const std::string& text);
  void setPowerSaving(bool on);

 private:
  explicit ServerController(Dependencies dependencies);
  void start();

  std::string newPin();
  void storePin(const std::string& pin);
  void clientsChanged(std::vector<std::string> names);
  void inputPermissionMissing();
  void startCaptureTask();
  void captureFailed(const CaptureError& error);
  void retryCaptureLater(Duration delay);
  void storeDisplayID(DisplayID display);
  void writeDisplayID();
  void authFailures(uint64_t count, std::string lastAddress);
  void stopCaptureTask();
  void streamStopped(std::optional<CaptureError> error);
  void refreshDisplays();
  void updateWelcome();
  void report(const std::optional<std::string>& problem);
  void physicalInput();

  Executor& main_;
  SettingsStore& settings_;
  HubPort& hub_;
  ScreenCapturer& capturer_;
  ControllerPlatform& platform_;
  const std::string directID_;
  StoredBrightness savedBrightness_;
  std::unique_ptr<HeadlessDisplay> headless_;
  std::unique_ptr<SleepPrevention> sleepPrevention_;

  StatePublisher state_;
  std::string hostName_;
  bool wantCapture_ = false;
  // A capture task is cancelled by starting the next one: only the newest one's result counts.
  uint64_t captureTask_ = 0;
  // One start at a time: starts asked for meanwhile become one more once it is done.
  bool startInFlight_ = false;
  bool startAgain_ = false;
  DelayedWork restartWork_;
  Duration nextDisplayLostRetry_ = kRetryWhileDisplayLost;
  std::optional<std::string> broadcastCaptureError_;  // clients have been told this already
  std::optional<DisplayID> unsavedDisplayID_;
  std::optional<TimePoint> lastDisplayIDWrite_;
  DelayedWork displayIDWrite_;
  uint64_t failuresBeforeNewPin_ = 0;
  uint64_t failuresSeen_ = 0;
  bool didPromptInput_ = false;
};

}  // namespace vistaro
