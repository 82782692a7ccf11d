#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "display/headless_display.h"
#include "fakes/display/fake_power_services.h"
#include "fakes/display/fake_virtual_screen.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

class HeadlessDisplayFitTest : public ::testing::Test {
 protected:
  HeadlessDisplayFitTest() {
    headless.onPhysicalInput = [this] { fake.calls.push_back("(touched)"); };
  }
  // Asks for a switch; the answer, once there is one, in `answer`.
  void ask(bool resize, VirtualSize size) {
    auto done = [this](DisplayID display, std::optional<HeadlessError> error) {
      answer = error ? (*error == HeadlessError::cancelled ? "cancelled" : describe(*error))
                     : fmt::format("display {}", display);
    };
    answer = "pending";
    resize ? headless.resizeVirtualDisplay(size, done) : headless.createVirtualDisplay(size, done);
    main.runUntilIdle();
  }
  void finish() { screen.finish(), main.runUntilIdle(); }

  ManualExecutor main;
  testing::FakePowerServices fake;
  testing::FakeVirtualScreen screen{fake.calls};
  HeadlessDisplay headless{{main, fake.services, fake.savedBrightness(), [] { return TimePoint{}; }, &screen}};
  std::string answer;
};

TEST_F(HeadlessDisplayFitTest, SwitchesResizesAndPutsTheScreenBack) {
  screen.scale = 2.0;  // the session draws two pixels per point
  ask(false, {800, 1730, true});
  EXPECT_EQ(answer, "pending");
  finish();
  EXPECT_EQ(answer, "display 101");
  EXPECT_EQ(fake.take(), "tap, watchdog, show 1600x3460 #1, cursor 101");
  EXPECT_TRUE(headless.fitting());

  ask(false, {640, 480, true});  // already on: the display there is
  EXPECT_EQ(answer, "display 101");
  ask(true, {800, 1730, true});  // the same size: nothing to do
  EXPECT_EQ(answer, "display 101");
  EXPECT_EQ(fake.take(), "");
  ask(true, {640, 1384, true});
  finish();
  EXPECT_EQ(answer, "display 102");
  EXPECT_EQ(fake.take(), "show 1280x2768 #2, cursor 102");
  EXPECT_EQ(headless.currentSize(), (VirtualSize{640, 1384, true}));

  headless.removeVirtualDisplay();
  EXPECT_EQ(fake.take(), "restore, cursor main, no watchdog, untap");
  EXPECT_FALSE(headless.currentSize());
  ask(true, {640, 1384, true});
  EXPECT_EQ(answer, describe(HeadlessError::virtualDisplayFailed));
}

TEST_F(HeadlessDisplayFitTest, AnOvertakenOrFailedSwitchLeavesNothingBehind) {
  ask(false, {800, 1730, true});
  headless.removeVirtualDisplay();  // before the switch finished
  finish();
  EXPECT_EQ(answer, "cancelled");
  EXPECT_EQ(fake.take(), "tap, watchdog, show 800x1730 #1, restore, no watchdog, untap");
  EXPECT_FALSE(headless.fitting());

  screen.failure = "too large for this X server";
  ask(false, {800, 1730, true});
  finish();
  EXPECT_EQ(answer, describe(HeadlessError::virtualDisplayFailed));
  EXPECT_EQ(fake.take(), "tap, watchdog, show 800x1730 #2, no watchdog, untap");

  for (VirtualSize absurd : {VirtualSize{0, 600}, VirtualSize{800, -2}, VirtualSize{INT64_MAX, 600}}) {
    ask(false, absurd);
    EXPECT_EQ(answer, describe(HeadlessError::virtualDisplayFailed));
  }
  EXPECT_EQ(fake.take(), "");

  fake.tapAllowed = false;
  ask(false, {800, 1730});
  EXPECT_EQ(answer, describe(HeadlessError::needsAccessibility));
}

// The levels are those of displays that a switch replaces: given back before, taken again after.
TEST_F(HeadlessDisplayFitTest, PowerSavingFollowsTheScreensAndATouchEndsEither) {
  ASSERT_FALSE(headless.enablePowerSaving());
  fake.take();
  ask(false, {800, 1730});
  finish();
  EXPECT_EQ(fake.take(),
            "tap, set 1 0.7, set 2 1, show 800x1730 #1, cursor 101, get 1, get 2, get 3, saved {1: 0.7, 2: 1}, "
            "set 1 0, set 2 0, curtains");
  main.advance(HeadlessDisplay::kSwitchedGrace - 1ms);
  fake.touch(), main.runUntilIdle();
  EXPECT_EQ(fake.take(), "");
  main.advance(2ms);
  fake.touch(), main.runUntilIdle();
  EXPECT_EQ(fake.take(), "(touched)");

  headless.disablePowerSaving();
  EXPECT_EQ(fake.take(), "uncover, set 1 0.7, set 2 1, unsaved");  // fit mode still needs the tap and watchdog
  fake.touch(), main.runUntilIdle();
  EXPECT_EQ(fake.take(), "(touched)");
  headless.removeVirtualDisplay();
  EXPECT_EQ(fake.take(), "restore, cursor main, no watchdog, untap");
}

TEST_F(HeadlessDisplayFitTest, AtStartTheScreensComeBackAfterTheirLevels) {
  fake.saved = std::map<uint32_t, float>{{1, 0.7f}};
  headless.restoreSavedBrightness();
  headless.restoreSavedScreens();
  EXPECT_EQ(fake.take(), "clear leftovers, set 1 0.7, unsaved, leftovers");
}

}  // namespace
}  // namespace vistaro
