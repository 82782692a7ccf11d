#include <fmt/format.h>
#include <gtest/gtest.h>
#include <fmt/ranges.h>

#include <fstream>

#include "control/server_controller.h"
#include "control/virtual_size.h"
#include "core/manual_executor.h"
#include "fakes/capture/fake_capture_source.h"
#include "fakes/control/fake_controller_platform.h"
#include "fakes/control/fake_hub_port.h"
#include "fakes/display/fake_power_services.h"
#include "fakes/display/fake_virtual_screen.h"
#include "fakes/display/fake_window_service.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

TEST(VirtualSizeTest, ThePhonesProportionsAtAReadableSize) {
  const VirtualSize main{1440, 900, false};
  struct Case {
    std::optional<ClientDisplayMessage> client;
    VirtualSize size;
  } cases[] = {
      {ClientDisplayMessage{1170, 2532, "normal", true}, {800, 1730, true}},
      {ClientDisplayMessage{1170, 2532, "large", true}, {640, 1384, true}},
      {ClientDisplayMessage{1170, 2532, "small", true}, {1040, 2250, true}},
      {ClientDisplayMessage{2732, 2048, "", false}, {1366, 1024, true}},  // large enough as it is
      {ClientDisplayMessage{0, 2532, "normal", true}, main},
      {std::nullopt, main},
  };
  for (const Case& c : cases) EXPECT_EQ(virtualSizeFor(c.client, main), c.size);
}

class ServerControllerFitTest : public ::testing::Test {
 protected:
  ServerControllerFitTest() {
    source.displays = {{1, "Left", 1920, 1080, true, 1.0}, {2, "Right", 1280, 1024, false, 1.0}};
    desktop.add(1, "XTerm", "shell", {100, 50, 1600, 1000});
    desktop.area = {0, 0, 800, 1730};
    desktop.active = 1;
  }
  void build() {
    settings.emplace(dir / "settings.json");
    ServerController::Dependencies d{main, *settings, hub, capturer, platform, &power.services, {}};
    d.screen = &screen, d.windows = &desktop, d.windowQueue = &main;
    controller = ServerController::create(std::move(d));
    main.runUntilIdle();
  }
  void phone(const auto& callback, auto... args) { callback(args...), main.runUntilIdle(); }
  // The virtual display (id 100 + serial) comes, and the capturer can find it.
  void switched() {
    source.displays.push_back({100 + static_cast<DisplayID>(screen.pending.size()), "fit", 800, 1730, true, 1.0});
    screen.finish(), main.runUntilIdle();
  }
  const ControllerState& state() { return controller->state().current(); }
  // Fit mode as the panel, the streamed display and the newest welcome see it.
  std::string fit() {
    return fmt::format("{}{} on {} (streaming {}, welcome {})", state().fitStarting ? "starting " : "",
                       state().fitting, state().selectedDisplayID, source.streamingOn.value_or(0),
                       hub.welcomes.back().fit.value_or(false));
  }
  std::string screenCalls() {
    std::vector<std::string> calls;
    for (const std::string& call : std::exchange(power.calls, {})) {
      if (call.starts_with("show") || call == "restore" || call == "leftovers") calls.push_back(call);
    }
    return fmt::format("{}", fmt::join(calls, ", "));
  }

  testing::TempDir dir;
  std::optional<SettingsStore> settings;
  ManualExecutor main;
  testing::FakeCaptureSource source{main};
  ScreenCapturer capturer{main, source};
  testing::FakeHubPort hub;
  testing::FakeControllerPlatform platform;
  testing::FakePowerServices power;
  testing::FakeVirtualScreen screen{power.calls};
  testing::FakeWindowService desktop;
  std::shared_ptr<ServerController> controller;
};

TEST_F(ServerControllerFitTest, APhoneFitsTheDesktopKeepsItFittedAndPutsItBack) {
  build();
  EXPECT_EQ(screenCalls(), "leftovers");
  phone(hub.callbacks.clientsChanged, std::vector<std::string>{"phone"});
  phone(hub.callbacks.clientDisplay, ClientDisplayMessage{1170, 2532, "normal", true});
  phone(hub.callbacks.setFit, true);
  EXPECT_EQ(fit(), "starting false on 1 (streaming 1, welcome false)");
  EXPECT_EQ(screenCalls(), "show 800x1730 #1");
  switched();
  EXPECT_EQ(fit(), "true on 101 (streaming 101, welcome true)");

  main.advance(ServerController::kFirstWindowFit);
  EXPECT_EQ(desktop.frameOf(1), desktop.area);  // the active one fills it when the phone asks so
  desktop.add(2, "XTerm", "", {700, 10, 400, 300});
  main.advance(ServerController::kKeepInterval);
  EXPECT_EQ(desktop.frameOf(2), (Rect{400, 10, 400, 300}));
  desktop.frameOf(2).x = 600;
  desktop.desktopSwitched(), main.advance(ServerController::kFirstKeepAfterDesktopSwitch);
  EXPECT_EQ(desktop.frameOf(2).x, 400);

  // A burst of sizes while turning round: one resize; the same size again: nothing.
  for (int64_t width : {2000, 2200, 2532}) phone(hub.callbacks.clientDisplay, ClientDisplayMessage{width, 1170, "normal", true});
  main.advance(ServerController::kResizeDebounce);
  source.displays.push_back({102, "fit", 1298, 600, true, 1.0});
  screen.finish(), main.runUntilIdle();
  EXPECT_EQ(screenCalls(), "show 1298x600 #2");
  EXPECT_EQ(fit(), "true on 102 (streaming 102, welcome true)");
  phone(hub.callbacks.clientDisplay, ClientDisplayMessage{2532, 1170, "normal", true});
  main.advance(ServerController::kResizeDebounce);
  EXPECT_EQ(screenCalls(), "");

  phone(hub.callbacks.setFit, false);
  EXPECT_EQ(fit(), "false on 1 (streaming 1, welcome false)");
  EXPECT_EQ(screenCalls(), "restore");
  EXPECT_TRUE(settings->windowFramesBeforeFit());
  main.advance(ServerController::kWindowRestoreDelay);
  EXPECT_EQ(desktop.frameOf(1), (Rect{100, 50, 1600, 1000}));
  EXPECT_EQ(desktop.frameOf(2), (Rect{700, 10, 400, 300}));
  EXPECT_FALSE(settings->windowFramesBeforeFit());
  EXPECT_EQ(settings->displayID(), std::nullopt);  // the fit display was never the user's choice
}

// Offs that come while the desktop is still switching take effect once it has switched.
TEST_F(ServerControllerFitTest, OffWhileStartingSwitchesOnAndStraightOff) {
  build();
  phone(hub.callbacks.setFit, true);
  phone(hub.callbacks.setFit, false);
  phone(hub.callbacks.setFit, true);  // the last word counts
  switched();
  EXPECT_EQ(fit(), "true on 101 (streaming 0, welcome true)");
  controller->stopFit();
  main.advance(1s);

  // Someone at the computer while power saving is on and the desktop is switching: both end.
  phone(hub.callbacks.setHeadless, true);
  power.calls.clear();
  phone(hub.callbacks.setFit, true);
  main.advance(HeadlessDisplay::kSwitchGrace * 2);
  power.touch(), main.runUntilIdle();
  EXPECT_FALSE(state().powerSaving);
  switched();
  EXPECT_EQ(screenCalls(), "show 1920x1080 #2, restore");
  EXPECT_EQ(fit(), "false on 1 (streaming 0, welcome false)");

  // Switched on again before the windows went back: they stay fitted.
  main.advance(ServerController::kWindowRestoreDelay / 2);
  phone(hub.callbacks.setFit, true);
  switched();
  main.advance(ServerController::kWindowRestoreDelay);
  EXPECT_EQ(desktop.frameOf(1), desktop.area);
}

TEST_F(ServerControllerFitTest, AScreenThatCannotSwitchIsANoticeAndTheWindowsStay) {
  build();
  screen.failure = "the X server cannot grow";
  phone(hub.callbacks.setFit, true);
  switched();
  EXPECT_EQ(fit(), "false on 1 (streaming 0, welcome false)");
  const std::string text = describe(HeadlessError::virtualDisplayFailed);
  ASSERT_EQ(hub.errors.size(), 1u);
  EXPECT_EQ(std::tuple(hub.errors[0].code, hub.errors[0].message, state().lastError), std::tuple("notice", text, text));
  EXPECT_EQ(desktop.frameOf(1), (Rect{100, 50, 1600, 1000}));
  EXPECT_FALSE(settings->windowFramesBeforeFit());
}

TEST_F(ServerControllerFitTest, QuittingPutsEverythingBackFirst) {
  build();
  bool finished = false;
  controller->shutDown([&] { finished = true; });
  main.runUntilIdle();
  EXPECT_TRUE(finished);  // nothing to undo: no wait

  build();
  phone(hub.callbacks.setFit, true);
  switched();
  phone(hub.callbacks.setHeadless, true);
  main.advance(ServerController::kFirstWindowFit);
  power.calls.clear();
  finished = false;
  controller->shutDown([&] { finished = true; });
  main.advance(ServerController::kShutdownSettle - 1ms);
  EXPECT_FALSE(finished);
  EXPECT_EQ(screenCalls(), "restore");
  EXPECT_FALSE(power.touch);  // power saving is off, the tap gone
  main.advance(1ms), main.runUntilIdle();
  EXPECT_TRUE(finished);
  EXPECT_EQ(desktop.frameOf(1), (Rect{100, 50, 1600, 1000}));
}

// A host that died with the desktop fitted: at the next start the screens come back at once, the
// windows a moment later.
TEST_F(ServerControllerFitTest, WhatAnEarlierRunLeftFittedComesBack) {
  std::ofstream(dir / "settings.json")
      << R"({"windowFramesBeforeFit": [{"bundleID": "XTerm", "title": "shell", "index": 0, "frame": [[5, 6], [700, 500]]}]})";
  build();
  EXPECT_EQ(screenCalls(), "leftovers");
  main.advance(ServerController::kLeftoverWindowRestore);
  EXPECT_EQ(desktop.frameOf(1), (Rect{5, 6, 700, 500}));
  EXPECT_FALSE(settings->windowFramesBeforeFit());
}

}  // namespace
}  // namespace vistaro
