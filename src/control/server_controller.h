#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/screen_capturer.h"
#include "control/controller_platform.h"
#include "control/hub_port.h"
#include "control/settings_store.h"
#include "control/stored_brightness.h"
#include "control/stored_window_frames_record.h"
#include "control/state_publisher.h"
#include "core/executor.h"
#include "display/headless_display.h"
#include "display/sleep_prevention.h"
#include "display/window_fitter.h"

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
  // Fit mode. Windows are fitted twice: programs that redraw late move their windows once more.
  static constexpr Duration kFirstWindowFit = std::chrono::milliseconds(800);
  static constexpr Duration kSecondWindowFit = std::chrono::milliseconds(2500);
  static constexpr Duration kWindowRestoreDelay = std::chrono::milliseconds(1500);
  static constexpr Duration kDisplayRefreshAfterFit = std::chrono::seconds(2);
  static constexpr Duration kLeftoverWindowRestore = std::chrono::seconds(2);
  // A phone turning round sends a burst of sizes: one resize for all of them.
  static constexpr Duration kResizeDebounce = std::chrono::milliseconds(600);
  static constexpr Duration kKeepInterval = std::chrono::milliseconds(1500);
  static constexpr Duration kFirstKeepAfterDesktopSwitch = std::chrono::milliseconds(300);
  static constexpr Duration kSecondKeepAfterDesktopSwitch = std::chrono::milliseconds(1000);
  // What the window manager still does after the screens came back, before windows are put back.
  static constexpr Duration kShutdownSettle = std::chrono::milliseconds(1200);

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
    // Fit mode's desktop side; without them (or without `power`), fit mode is refused or leaves windows as they are.
    VirtualScreen* screen = nullptr;
    WindowService* windows = nullptr;
    Executor* windowQueue = nullptr;  // where the window system's calls may block
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
  // Fit mode: the desktop at the client's proportions, its windows fitted onto it.
  void startFit();
  void stopFit();
  // Puts the desktop back (fit mode, power saving, windows) before the process ends; `finished` runs
  // on the main executor once that is done, which takes a few seconds at most.
  void shutDown(std::function<void()> finished);
  // The panel's part: while a fit-on is under way, whether fit mode goes off again once it is on.
  void setFitOffQueued(bool queued) { fitOffQueued_ = queued; }
  // Reads both permissions again, never prompting.
  void recheckPermissions();
  // A failure of something the user did outside the controller (the login item, a relaunch).
  void showError(const std::string& text);

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
  void streamDisplay(DisplayID display);
  void storeDisplayID(DisplayID display);
  void writeDisplayID();
  void authFailures(uint64_t count, std::string lastAddress);
  void stopCaptureTask();
  void streamStopped(std::optional<CaptureError> error);
  void refreshDisplays();
  void updateWelcome();
  void report(const std::optional<std::string>& problem);
  void physicalInput();
  void fitRequested(bool on);
  void clientDisplayChanged(const ClientDisplayMessage& message);
  VirtualSize virtualSize();
  void fitStarted(uint64_t generation, DisplayID display, std::optional<HeadlessError> error);
  void showFitDisplay(DisplayID display);
  void scheduleWindowFit(DisplayID display);
  void resizeFitDisplay();
  void updateFitKeeper();
  void scheduleKeep();
  void keepWindows();
  void startFitWatch();
  void noticeFailure(const std::string& text);

  Executor& main_;
  SettingsStore& settings_;
  HubPort& hub_;
  ScreenCapturer& capturer_;
  ControllerPlatform& platform_;
  const std::string directID_;
  StoredBrightness savedBrightness_;
  std::unique_ptr<HeadlessDisplay> headless_;
  std::unique_ptr<SleepPrevention> sleepPrevention_;
  StoredWindowFramesRecord storedFrames_;
  std::unique_ptr<WindowFitter> windowFitter_;
  WindowService* windows_;

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

  // Fit mode; fitting and fitStarting are published in the state.
  std::optional<DisplayID> displayBeforeFit_;
  bool fitOffQueued_ = false;
  // Each on and off counts: a step that finds a newer count was overtaken and does nothing.
  uint64_t fitGeneration_ = 0;
  DelayedWork restoreWork_;
  std::optional<ClientDisplayMessage> clientDisplay_;
  DelayedWork resizeWork_;
  DelayedWork fitKeeper_;
  bool keeperRunning_ = false;
  bool shuttingDown_ = false;
};

}  // namespace vistaro
