#include "display/headless_display.h"

#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "fakes/display/fake_power_services.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

class HeadlessDisplayTest : public ::testing::Test {
 protected:
  HeadlessDisplayTest() {
    headless.onPhysicalInput = [this] { ++touches; };
    headless.onCurtainsChanged = [this] { fake.calls.push_back("(filter)"); };
  }
  std::string touchAfter(Duration wait) {
    main.advance(wait);
    const int before = touches;
    if (fake.touch) fake.touch();
    return touches > before ? "reported" : "ignored";
  }

  ManualExecutor main;
  testing::FakePowerServices fake;
  TimePoint shortcutGrace{};
  HeadlessDisplay headless{{main, fake.services, fake.savedBrightness(), [this] { return shortcutGrace; }}};
  int touches = 0;
};

TEST_F(HeadlessDisplayTest, DimsAfterSavingAndUndoesEverythingInReverse) {
  ASSERT_FALSE(headless.enablePowerSaving());
  // Display 3 has no readable level: left as it is, and not recorded.
  EXPECT_EQ(fake.take(),
            "tap, get 1, get 2, get 3, saved {1: 0.7, 2: 1}, set 1 0, set 2 0, watchdog, curtains, (filter)");
  main.advance(HeadlessDisplay::kCurtainCheck * 3);
  EXPECT_EQ(fake.take(), "");
  fake.covering = false;  // a screen came, or a program lit one again
  main.advance(HeadlessDisplay::kCurtainCheck);
  EXPECT_EQ(fake.take(), "curtains, (filter)");
  headless.disablePowerSaving();
  EXPECT_EQ(fake.take(), "uncover, set 1 0.7, set 2 1, unsaved, no watchdog, untap");
  main.advance(HeadlessDisplay::kCurtainCheck * 3);
  EXPECT_EQ(fake.take(), "");
}

TEST_F(HeadlessDisplayTest, InputThatCannotBeWatchedRefusesAndChangesNothing) {
  fake.tapAllowed = false;
  EXPECT_EQ(headless.enablePowerSaving(), HeadlessError::needsAccessibility);
  headless.disablePowerSaving();
  EXPECT_EQ(fake.take(), "tap refused");
  EXPECT_FALSE(headless.powerSaving());
}

TEST_F(HeadlessDisplayTest, OnlyInputAfterTheGracesEndsPowerSaving) {
  ASSERT_FALSE(headless.enablePowerSaving());
  EXPECT_EQ(touchAfter(1900ms), "ignored");  // the touch that switched it on, or its echo
  shortcutGrace = main.now() + 500ms;        // an injected Control+arrow
  EXPECT_EQ(touchAfter(200ms), "ignored");
  EXPECT_EQ(touchAfter(400ms), "reported");
  EXPECT_EQ(touchAfter(10ms), "reported");  // every touch: the owner's answer is idempotent
  headless.disablePowerSaving();
  EXPECT_FALSE(fake.touch);
}

TEST_F(HeadlessDisplayTest, AHostThatEndsWhileDarkLeavesTheScreensLit) {
  {
    HeadlessDisplay ending{{main, fake.services, fake.savedBrightness(), [] { return TimePoint{}; }}};
    ASSERT_FALSE(ending.enablePowerSaving());
    fake.take();
  }
  EXPECT_EQ(fake.take(), "uncover, set 1 0.7, set 2 1, unsaved, no watchdog, untap");
}

// A host that died while dimmed: what comes back at the next start, within the levels there are.
TEST_F(HeadlessDisplayTest, RestoresWhatAnEarlierRunSavedAndForgetsIt) {
  headless.restoreSavedBrightness();
  EXPECT_EQ(fake.take(), "");
  fake.saved = std::map<uint32_t, float>{{1, 0.7f}, {7, 1.5f}};
  headless.restoreSavedBrightness();
  EXPECT_EQ(fake.take(), "clear leftovers, set 1 0.7, set 7 1, unsaved");
}

}  // namespace
}  // namespace vistaro
