#include "control/server_controller.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "core/manual_executor.h"
#include "fakes/capture/fake_capture_source.h"
#include "fakes/control/fake_controller_platform.h"
#include "fakes/control/fake_hub_port.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

const ErrorMessage kLost{"capture", "ディスプレイサーバーとの接続が切れました"};

class ServerControllerTest : public ::testing::Test {
 protected:
  ServerControllerTest() { source.displays = {{1, "Left", 1920, 1080, true, 1.0}, {2, "Right", 1280, 1024, false, 1.0}}; }
  void build() {
    settings = std::make_unique<SettingsStore>(file);
    controller = ServerController::create({main, *settings, hub, capturer, platform, nullptr, {}, "0123456789abcdef0123456789abcdef"});
    main.runUntilIdle();
  }
  // A report of the hub (as it arrives on the hub's queue) or of the platform, and what it sets off.
  void report(const auto& callback, auto... args) { callback(args...), main.runUntilIdle(); }
  void clients(std::vector<std::string> names) { report(hub.callbacks.clientsChanged, std::move(names)); }
  SettingsStore stored() const { return SettingsStore(file); }  // what a restarted host reads
  const ControllerState& state() { return controller->state().current(); }
  long starts() const { return std::ranges::count_if(source.calls, [](auto& call) { return call.starts_with("start"); }); }
  // What most steps are judged by: capture as the panel, the source and the hub see it.
  std::string capture() {
    return fmt::format("{} {} (selected {}, welcome {}), {} starts, {} clears", state().capturing ? "capturing" : "idle",
                       source.streamingOn.value_or(0), state().selectedDisplayID,
                       hub.welcomes.empty() ? 0 : hub.welcomes.back().current, starts(), hub.clears);
  }

  testing::TempDir dir;
  std::filesystem::path file = dir / "settings.json";
  ManualExecutor main;
  testing::FakeCaptureSource source{main};
  ScreenCapturer capturer{main, source};
  testing::FakeHubPort hub;
  testing::FakeControllerPlatform platform;
  std::unique_ptr<SettingsStore> settings;
  std::shared_ptr<ServerController> controller;
};

// The PIN is stored until regenerated and its failed attempts go with it; input refused prompts once.
TEST_F(ServerControllerTest, ReportsOfTheHubAndThePlatformReachThePanelAndTheWelcome) {
  build();
  EXPECT_EQ(std::tuple(state().pin, hub.serviceName, hub.welcomes.at(0).hostName), std::tuple("004242", "desk", "desk"));
  EXPECT_EQ(hub.welcomes.at(0).directID, "0123456789abcdef0123456789abcdef");
  controller->setDirectStatus("ready");
  EXPECT_EQ(state().directStatus, "ready");
  report(hub.callbacks.authFailures, 12, "198.51.100.7");
  EXPECT_EQ(std::tuple(state().failedPinAttempts, state().failedPinAddress), std::tuple(12u, "198.51.100.7"));
  controller->regeneratePin();
  EXPECT_EQ(std::tuple(state().pin, stored().pin(), state().failedPinAttempts), std::tuple("004243", "004243", 0u));
  EXPECT_EQ(hub.pins, (std::vector<std::string>{"004242", "004243"}));
  report(hub.callbacks.authFailures, 15, "198.51.100.8");  // the hub counts on
  EXPECT_EQ(state().failedPinAttempts, 3u);
  report(hub.callbacks.inputPermissionMissing);
  report(hub.callbacks.inputPermissionMissing);
  EXPECT_EQ(std::tuple(state().hasInputPermission, platform.prompts), std::tuple(false, 1));
  source.displays.pop_back();
  report(platform.screenChanged);
  EXPECT_EQ(hub.welcomes.back().displays.size(), 1u);

  // A stored PIN no phone can enter would lock everyone out: replaced, and said so.
  for (const char* unusable : {"", "12345", "12345a"}) {
    ASSERT_FALSE(stored().setPin(unusable));
    build();
    EXPECT_EQ(state().pin.size(), 6u) << unusable;
    EXPECT_NE(state().lastError.value_or("").find("not six digits"), std::string::npos);
  }
}

TEST_F(ServerControllerTest, CaptureFollowsClientPresence) {
  build();
  clients({"A"});
  clients({"A", "\x1b[31mPhone\nPIN 000000"});
  EXPECT_EQ(capture(), "capturing 1 (selected 1, welcome 1), 1 starts, 0 clears");
  EXPECT_EQ(state().clientNames, (std::vector<std::string>{"A", "[31mPhonePIN 000000"}));
  clients({});
  EXPECT_EQ(capture(), "idle 0 (selected 1, welcome 1), 1 starts, 1 clears");
  hub.callbacks.clientsChanged({"A"});  // a start that completes after the last client left is undone
  clients({});
  EXPECT_EQ(capture(), "idle 0 (selected 1, welcome 1), 2 starts, 2 clears");
}

TEST_F(ServerControllerTest, SelectedDisplayIsStreamedAndStoredAtMostOnceASecond) {
  ASSERT_FALSE(stored().setDisplayID(9));  // gone since: the capturer falls back, the welcome follows
  build();
  clients({"A"});
  report(hub.callbacks.selectDisplay, 9);  // not a display of this desktop
  EXPECT_EQ(capture(), "capturing 1 (selected 1, welcome 1), 1 starts, 0 clears");
  // A client switching in a loop: one restart in flight, then one more for the last choice.
  for (int i = 0; i < 1000; ++i) hub.callbacks.selectDisplay(i % 2 ? 1 : 2);
  main.runUntilIdle();
  EXPECT_EQ(capture(), "capturing 1 (selected 1, welcome 1), 3 starts, 1000 clears");
  EXPECT_EQ(stored().displayID(), 2u);  // the first choice at once, the last once a second has passed
  main.advance(1s);
  EXPECT_EQ(stored().displayID(), 1u);
  report(hub.callbacks.selectDisplay, 2);
  EXPECT_EQ(capture(), "capturing 2 (selected 2, welcome 2), 4 starts, 1001 clears");
  EXPECT_EQ(stored().displayID(), 1u);
  controller.reset();  // the pending choice is written on the way out
  EXPECT_EQ(stored().displayID(), 2u);
}

TEST_F(ServerControllerTest, FailedStartTellsEveryClientWhyOnce) {
  build();
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"X server said no", true, "X server said no"}, {"", false, "画面収録の許可が必要です"}, {"", true, "キャプチャに失敗しました"}};
  for (const auto& [description, permitted, told] : cases) {
    source.startError = CaptureError::platform(description);
    platform.capturePermitted = permitted;
    clients({"A"});
    main.advance(1min);
    EXPECT_EQ(std::tuple(starts(), state().capturing, state().hasPermission),
              std::tuple(long(hub.errors.size()), false, permitted));  // never retried
    EXPECT_EQ(hub.errors.back(), (ErrorMessage{"capture", told}));
    clients({});
  }
}

TEST_F(ServerControllerTest, EndedStreamRestartsAfterTwoSecondsAndALostServerIsRetriedWithBackOffWhileWatched) {
  build();
  clients({"A"});
  source.platformStop(1, CaptureError::platform("gone"));
  main.advance(1999ms);
  EXPECT_EQ(capture(), "idle 0 (selected 1, welcome 1), 1 starts, 1 clears");  // its last picture is not the desktop
  EXPECT_EQ(state().lastError, "gone");
  main.advance(1ms);
  EXPECT_EQ(capture(), "capturing 1 (selected 1, welcome 1), 2 starts, 1 clears");

  for (int loss = 1; loss <= 2; ++loss) {  // the second time, back to the first delays and told again
    source.startError = CaptureError::displayLost();
    source.platformStop(source.streamsStarted, CaptureError::displayLost());
    long expected = starts();
    for (Duration gap : {2s, 2s, 4s, 8s, 16s, 30s, 30s}) {
      main.advance(gap - 1ms);
      EXPECT_EQ(starts(), expected);
      main.advance(1ms);
      EXPECT_EQ(starts(), ++expected);
    }
    EXPECT_EQ(std::tuple(hub.errors.size(), hub.errors.back(), state().hasPermission, state().lastError),
              std::tuple(size_t(loss), kLost, true, kLost.message));
    source.startError.reset();
    main.advance(30s);
    EXPECT_EQ(std::tuple(state().capturing, state().lastError), std::tuple(true, std::nullopt));
  }
  EXPECT_EQ(hub.clears, 3);  // newcomers wait for a live frame
  source.platformStop(source.streamsStarted, std::nullopt);
  clients({});
  main.advance(5min);
  EXPECT_EQ(capture(), "idle 0 (selected 1, welcome 1), 18 starts, 5 clears");
}

}  // namespace
}  // namespace vistaro
