#include <gtest/gtest.h>
#include <unistd.h>

#include "control/fake_controller_platform.h"
#include "control/fake_hub_port.h"
#include "control/server_controller.h"
#include "core/manual_executor.h"
#include "fake_capture_source.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

using testing::FakeCaptureSource;
using testing::FakeControllerPlatform;
using testing::FakeHubPort;

class ServerControllerTest : public ::testing::Test {
 protected:
  ServerControllerTest() {
    source.displays = {{1, "Left", 1920, 1080, true, 1.0}, {2, "Right", 1280, 1024, false, 1.0}};
    settingsFile = std::filesystem::temp_directory_path() /
                   ("vistaro-controller-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
    std::filesystem::remove(settingsFile);
  }
  ~ServerControllerTest() override { std::filesystem::remove(settingsFile); }

  void build() {
    settings = std::make_unique<SettingsStore>(settingsFile);
    controller = ServerController::create({main, *settings, hub, capturer, platform});
    main.runUntilIdle();
  }
  void clients(std::vector<std::string> names) {
    hub.callbacks.clientsChanged(std::move(names));
    main.runUntilIdle();
  }
  const ControllerState& state() { return controller->state().current(); }

  ManualExecutor main;
  FakeCaptureSource source{main};
  ScreenCapturer capturer{main, source};
  FakeHubPort hub;
  FakeControllerPlatform platform;
  std::filesystem::path settingsFile;
  std::unique_ptr<SettingsStore> settings;
  std::shared_ptr<ServerController> controller;
};

TEST_F(ServerControllerTest, StartsWithAStoredPinOrANewOneAndTheMainDisplay) {
  build();
  EXPECT_EQ(state().pin, "004242");
  EXPECT_EQ(hub.pins, (std::vector<std::string>{"004242"}));
  EXPECT_EQ(hub.serviceName, "desk");
  EXPECT_EQ(state().selectedDisplayID, 1u);
  ASSERT_FALSE(hub.welcomes.empty());
  EXPECT_EQ(hub.welcomes.back().hostName, "desk");
  EXPECT_EQ(hub.welcomes.back().displays.size(), 2u);
  EXPECT_EQ(hub.welcomes.back().current, 1u);

  controller.reset();
  ASSERT_FALSE(SettingsStore(settingsFile).setDisplayID(2));
  build();
  EXPECT_EQ(state().pin, "004242");  // stored, not new
  EXPECT_EQ(state().selectedDisplayID, 2u);
}

TEST_F(ServerControllerTest, RegeneratedPinKeepsLeadingZerosAndReachesHubAndSettings) {
  build();
  platform.randoms = {7};
  controller->regeneratePin();
  EXPECT_EQ(state().pin, "000007");
  EXPECT_EQ(hub.pins.back(), "000007");
  EXPECT_EQ(SettingsStore(settingsFile).pin(), "000007");
}

TEST_F(ServerControllerTest, CaptureFollowsClientPresence) {
  build();
  clients({"A"});
  EXPECT_TRUE(state().capturing);
  EXPECT_EQ(source.streamingOn, 1u);
  EXPECT_EQ(state().clientNames, (std::vector<std::string>{"A"}));

  clients({"A", "B"});
  EXPECT_EQ(source.streamsStarted, 1);

  clients({});
  EXPECT_FALSE(state().capturing);
  EXPECT_FALSE(source.streamingOn);
  EXPECT_EQ(hub.clears, 1);
}

TEST_F(ServerControllerTest, StartThatFinishesAfterTheLastClientLeftIsStopped) {
  build();
  hub.callbacks.clientsChanged({"A"});
  hub.callbacks.clientsChanged({});
  main.runUntilIdle();
  EXPECT_FALSE(source.streamingOn);
  EXPECT_FALSE(state().capturing);
}

TEST_F(ServerControllerTest, VanishedDisplayFallsBackAndTheWelcomeFollows) {
  ASSERT_FALSE(SettingsStore(settingsFile).setDisplayID(9));
  build();
  clients({"A"});
  EXPECT_EQ(source.streamingOn, 1u);
  EXPECT_EQ(state().selectedDisplayID, 1u);
  EXPECT_EQ(hub.welcomes.back().current, 1u);
}

TEST_F(ServerControllerTest, SelectingADisplayRestartsCaptureThereAndIsStored) {
  build();
  clients({"A"});
  hub.callbacks.selectDisplay(2);
  main.runUntilIdle();
  EXPECT_EQ(source.streamingOn, 2u);
  EXPECT_EQ(hub.welcomes.back().current, 2u);
  EXPECT_EQ(hub.clears, 1);
  EXPECT_EQ(SettingsStore(settingsFile).displayID(), 2u);
}

TEST_F(ServerControllerTest, SystemStopRestartsAfterTwoSecondsOnlyWhileClientsRemain) {
  build();
  clients({"A"});
  source.platformStop(1, CaptureError::platform("gone"));
  main.runUntilIdle();
  EXPECT_FALSE(state().capturing);
  EXPECT_EQ(state().lastError, "gone");
  main.advance(1900ms);
  EXPECT_EQ(source.streamsStarted, 1);
  main.advance(100ms);
  EXPECT_EQ(source.streamsStarted, 2);
  EXPECT_TRUE(state().capturing);

  source.platformStop(2, std::nullopt);
  main.runUntilIdle();
  clients({});
  main.advance(5s);
  EXPECT_EQ(source.streamsStarted, 2);
}

TEST_F(ServerControllerTest, FailedStartTellsEveryClientWhy) {
  build();
  source.startError = CaptureError::platform("X server said no");
  clients({"A"});
  EXPECT_FALSE(state().capturing);
  EXPECT_EQ(state().lastError, "X server said no");
  ASSERT_EQ(hub.errors.size(), 1u);
  EXPECT_EQ(hub.errors[0], (ErrorMessage{"capture", "X server said no"}));

  clients({});
  platform.capturePermitted = false;
  source.startError = CaptureError::platform("");
  clients({"B"});
  EXPECT_FALSE(state().hasPermission);
  EXPECT_EQ(hub.errors.back(), (ErrorMessage{"capture", "画面収録の許可が必要です"}));

  clients({});
  platform.capturePermitted = true;
  clients({"C"});
  EXPECT_EQ(hub.errors.back(), (ErrorMessage{"capture", "キャプチャに失敗しました"}));
}

TEST_F(ServerControllerTest, LostDisplayServerIsRetriedUntilItIsBackAndNobodySeesAStaleFrame) {
  build();
  clients({"A"});
  const int clearsBefore = hub.clears;
  source.startError = CaptureError::displayLost();
  source.platformStop(1, CaptureError::displayLost());
  main.runUntilIdle();
  EXPECT_EQ(hub.clears, clearsBefore + 1);  // new clients wait for a live frame
  // Retries back off (2 s, then 2, 4, 8 ...) and tell the clients once, in the display's words.
  main.advance(2s);
  main.advance(2s);
  main.advance(4s);
  main.advance(8s);
  EXPECT_EQ(source.calls.size() - std::count(source.calls.begin(), source.calls.end(), "list"), 5u);
  ASSERT_EQ(hub.errors.size(), 1u);
  EXPECT_EQ(hub.errors[0], (ErrorMessage{"capture", "ディスプレイサーバーとの接続が切れました"}));
  EXPECT_TRUE(state().hasPermission);
  EXPECT_EQ(state().lastError, "ディスプレイサーバーとの接続が切れました");

  source.startError.reset();
  main.advance(16s);
  EXPECT_TRUE(state().capturing);
  EXPECT_FALSE(state().lastError);
}

TEST_F(ServerControllerTest, SwitchingDisplaysInALoopIsCheapAndUnknownDisplaysAreIgnored) {
  build();
  clients({"A"});
  const int started = source.streamsStarted;
  hub.callbacks.selectDisplay(9);  // not a display of this desktop
  main.runUntilIdle();
  EXPECT_EQ(state().selectedDisplayID, 1u);

  for (int i = 0; i < 1000; ++i) hub.callbacks.selectDisplay(i % 2 ? 1 : 2);
  main.runUntilIdle();
  EXPECT_EQ(state().selectedDisplayID, 1u);
  EXPECT_LE(source.streamsStarted - started, 2);
  EXPECT_EQ(source.streamingOn, 1u);

  // The setting is written at once, then at most once a second, and the last choice is kept.
  hub.callbacks.selectDisplay(2);
  main.runUntilIdle();
  EXPECT_EQ(SettingsStore(settingsFile).displayID(), 2u);
  hub.callbacks.selectDisplay(1);
  hub.callbacks.selectDisplay(2);
  hub.callbacks.selectDisplay(1);
  main.runUntilIdle();
  EXPECT_EQ(SettingsStore(settingsFile).displayID(), 2u);
  main.advance(1s);
  EXPECT_EQ(SettingsStore(settingsFile).displayID(), 1u);
  EXPECT_EQ(source.streamingOn, 1u);
}

TEST_F(ServerControllerTest, FailedPinAttemptsAreShownUntilANewPin) {
  build();
  hub.callbacks.authFailures(12, "198.51.100.7");
  main.runUntilIdle();
  EXPECT_EQ(state().failedPinAttempts, 12u);
  EXPECT_EQ(state().failedPinAddress, "198.51.100.7");
  controller->regeneratePin();
  EXPECT_EQ(state().failedPinAttempts, 0u);
  hub.callbacks.authFailures(15, "198.51.100.8");
  main.runUntilIdle();
  EXPECT_EQ(state().failedPinAttempts, 3u);
}

TEST_F(ServerControllerTest, ClientNamesAreShownWithoutControlCharacters) {
  build();
  clients({"\x1b[31mPhone\nPIN 000000"});
  EXPECT_EQ(state().clientNames, (std::vector<std::string>{"[31mPhonePIN 000000"}));
}

TEST_F(ServerControllerTest, FramesWithoutChangesNeverReachTheHub) {
  build();
  clients({"A"});
  auto frame = PixelBuffer::allocate(64, 64);
  std::fill_n(frame->mutableData(), 64 * 64 * 4, 0);
  source.emitFrame(frame, std::vector<Rect>{{0, 0, 64, 64}});
  source.emitFrame(frame, std::vector<Rect>{{0, 0, 64, 64}});
  ASSERT_EQ(hub.submitted.size(), 1u);
  EXPECT_FALSE(hub.submitted[0]);  // the first frame counts as changed everywhere
}

TEST_F(ServerControllerTest, InputPermissionPromptsOnlyOnce) {
  build();
  hub.callbacks.inputPermissionMissing();
  hub.callbacks.inputPermissionMissing();
  main.runUntilIdle();
  EXPECT_FALSE(state().hasInputPermission);
  EXPECT_EQ(platform.prompts, 1);
}

TEST_F(ServerControllerTest, ListenerStateIsPublishedForThePanel) {
  build();
  EXPECT_EQ(state().listenerStatus, "起動中…");
  std::vector<std::string> seen;
  controller->state().observe([&](const ControllerState& s) { seen.push_back(s.listenerStatus); });
  hub.callbacks.listenerState("待受中", 52525);
  main.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"待受中"}));
  EXPECT_EQ(controller->state().snapshot()->port, 52525);
}

}  // namespace
}  // namespace vistaro
