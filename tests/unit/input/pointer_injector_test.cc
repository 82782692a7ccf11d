#include "input/pointer_injector.h"

#include <gtest/gtest.h>

#include <limits>

#include "fakes/input/fake_pointer_device.h"
#include "input/wheel_accumulator.h"

namespace vistaro::testing {
namespace {

using Kind = InputMessage::Kind;
using Type = PointerEvent::Type;
using Events = std::vector<PointerEvent>;
constexpr DisplayID kWide = 0, kDetached = 9, kUnknown = 3;  // messages are for display 0 unless they say
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max(), kMin32 = std::numeric_limits<int32_t>::min();

class PointerInjectorTest : public ::testing::Test {
 protected:
  void SetUp() override { device.displays = {{kWide, Rect{1440, 0, 1920, 1080}}, {kDetached, Rect{}}}; }
  FakePointerDevice device;
  PointerInjector injector{device};
};

TEST_F(PointerInjectorTest, MessagesBecomeEventsAtTheirPointUpToTheLastPixelOrNothingWhenUntrusted) {
  const Point corner{3359, 1079}, origin{1440, 0};
  auto click = [](Point p, PointerButton button, int state) {
    return Events{{.type = Type::moved, .point = p},
                  {.type = Type::down, .point = p, .button = button, .clickState = state},
                  {.type = Type::up, .point = p, .button = button, .clickState = state}};
  };
  const std::pair<InputMessage, Events> cases[] = {
      {{.kind = Kind::rightClick, .x = 1, .y = 1, .clickCount = 5}, click(corner, PointerButton::right, 3)},
      {{.x = -0.3, .y = 7, .clickCount = std::numeric_limits<int64_t>::min()},
       click({1440, 1079}, PointerButton::left, 1)},
      {{.x = 7, .y = -2}, click({3359, 0}, PointerButton::left, 1)},
      {{.x = std::numeric_limits<double>::quiet_NaN(), .y = 0.5}, click({1440, 539.5}, PointerButton::left, 1)},
      {{.kind = Kind::scroll, .scrollY = -120}, {{.type = Type::scroll, .point = origin, .scrollY = -120}}},
      {{.kind = Kind::scroll, .scrollX = -(int64_t{1} << 40), .scrollY = 1 << 30, .scrollBegan = true},
       {{.type = Type::moved, .point = origin},
        {.type = Type::scroll, .point = origin, .scrollY = 1 << 30, .scrollX = kMin32, .beginsGesture = true}}},
      {{.kind = Kind::scroll, .scrollY = int64_t{1} << 40},
       {{.type = Type::scroll, .point = origin, .scrollY = kMax32}}},
      {{.kind = Kind::scroll, .scrollBegan = true}, {{.type = Type::moved, .point = origin}}},
      {{.kind = Kind::scroll}, {}},
      {{.displayID = kUnknown}, {}},  // no refusal either
      {{.displayID = kDetached}, {}}};
  EXPECT_EQ(injector.displayPoint({.displayID = kUnknown}), std::nullopt);
  for (const auto& [message, events] : cases) {
    device.events.clear();
    EXPECT_TRUE(injector.injectPointerInput(message));
    EXPECT_EQ(device.events, events);
  }
  device.events.clear();
  device.isUsable = false;
  for (const auto& [message, events] : cases) EXPECT_FALSE(injector.injectPointerInput(message));
  EXPECT_TRUE(device.events.empty());
}

TEST(WheelAccumulatorTest, SlowScrollsAddUpFastOnesAreNotMultipliedAndAGestureStartsAfresh) {
  WheelAccumulator wheel;
  int64_t clicks = 0;
  for (int i = 0; i < 10; ++i) clicks += wheel.clicksFor(-12);
  EXPECT_EQ(clicks, -120 / WheelAccumulator::kPixelsPerClick);
  EXPECT_EQ(wheel.clicksFor(WheelAccumulator::kPixelsPerClick - 1), 0);
  wheel.beginGesture();
  EXPECT_EQ(wheel.clicksFor(1), 0);
  EXPECT_EQ(wheel.clicksFor(-1), 0);  // back to nothing, not a click the other way
  EXPECT_EQ(wheel.clicksFor(-WheelAccumulator::kPixelsPerClick), -1);
  EXPECT_EQ(wheel.clicksFor(kMax32), kMax32 / WheelAccumulator::kPixelsPerClick);
}

}  // namespace
}  // namespace vistaro::testing
