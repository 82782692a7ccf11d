#include <gtest/gtest.h>

#include <fstream>

#include "control/server_controller.h"
#include "core/manual_executor.h"
#include "fakes/capture/fake_capture_source.h"
#include "fakes/control/fake_controller_platform.h"
#include "fakes/control/fake_hub_port.h"
#include "fakes/display/fake_power_services.h"
#include "support/temp_dir.h"

namespace vistaro {
namespace {

class ServerControllerPowerTest : public ::testing::Test {
 protected:
  void build() {
    settings.emplace(dir / "settings.json");
    controller = ServerController::create({main, *settings, hub, capturer, platform, &power.services, {}});
    main.runUntilIdle();
  }
  // Power saving as the panel, the newest welcome and the count of welcomes sent see it.
  std::string phone(bool on) {
    hub.callbacks.setHeadless(on), main.runUntilIdle();
    return told();
  }
  std::string told() {
    return fmt::format("{} {} {}", controller->state().current().powerSaving,
                       hub.welcomes.back().headless.value_or(false), hub.welcomes.size());
  }

  testing::TempDir dir;
  std::optional<SettingsStore> settings;
  ManualExecutor main;
  testing::FakeCaptureSource source{main};
  ScreenCapturer capturer{main, source};
  testing::FakeHubPort hub;
  testing::FakeControllerPlatform platform;
  testing::FakePowerServices power;
  std::shared_ptr<ServerController> controller;
};

TEST_F(ServerControllerPowerTest, ThePhoneSwitchesItATouchAtTheComputerEndsItAndARefusalIsANotice) {
  // A crashed run's displays come back before anything else; an entry that names no display or
  // no level does not keep the others dark, nor the record on disk.
  std::ofstream(dir / "settings.json") << R"({"headlessSavedBrightness": {"abc": 0.9, "2": "x", "1": 0.5, "-3": 1}})";
  build();
  EXPECT_EQ(power.take(), "clear leftovers, set 1 0.5");
  EXPECT_FALSE(SettingsStore(dir / "settings.json").headlessSavedBrightness());
  const size_t n = hub.welcomes.size();
  EXPECT_EQ(phone(true), fmt::format("true true {}", n + 1));
  EXPECT_EQ(phone(true), fmt::format("true true {}", n + 1));
  EXPECT_EQ(std::ranges::count(power.calls, "tap"), 1);
  main.advance(HeadlessDisplay::kInputGrace * 2);
  power.touch(), main.runUntilIdle();
  EXPECT_EQ(told(), fmt::format("false false {}", n + 2));
  EXPECT_TRUE(hub.errors.empty());

  power.tapAllowed = false;
  EXPECT_EQ(phone(true), fmt::format("false false {}", n + 3));
  const std::string text = describe(HeadlessError::needsAccessibility);
  ASSERT_EQ(hub.errors.size(), 1u);
  EXPECT_EQ(std::tuple(hub.errors[0].code, hub.errors[0].message, controller->state().current().lastError),
            std::tuple("notice", text, text));
}

// Awake while clients are there and five minutes after the last one; one that returns in time keeps it so.
TEST_F(ServerControllerPowerTest, ClientsKeepTheScreensAwake) {
  build();
  auto clients = [&](std::vector<std::string> names, Duration then) {
    hub.callbacks.clientsChanged(std::move(names)), main.runUntilIdle(), main.advance(then);
    return power.take();
  };
  EXPECT_EQ(clients({"phone"}, {}), "inhibit, activity");
  EXPECT_EQ(clients({}, SleepPrevention::kReleaseDelay - std::chrono::seconds(1)), "activity");
  EXPECT_EQ(clients({"phone"}, SleepPrevention::kReleaseDelay * 2), "activity");
  EXPECT_EQ(clients({}, SleepPrevention::kReleaseDelay), "activity, release, activity");
}

}  // namespace
}  // namespace vistaro
