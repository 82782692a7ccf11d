#include "input/pointer_injector.h"

#include <gtest/gtest.h>

#include <limits>

#include "fakes/input/recording_pointer_sink.h"
#include "input/wheel_accumulator.h"

namespace vistaro {
namespace {

using Type = PointerEvent::Type;
constexpr DisplayID kSecondDisplay = 7;

class PointerInjectorTest : public ::testing::Test {
 protected:
  PointerInjector injector{[this] { return trusted; },
                           [](DisplayID id) -> std::optional<Rect> {
                             if (id == kSecondDisplay) return Rect{1440, 0, 1920, 1080};
                             if (id == 9) return Rect{0, 0, 0, 0};  // detached
                             return std::nullopt;
                           },
                           sink};
  RecordingPointerSink sink;
  bool trusted = true;
};

InputMessage at(double x, double y, InputMessage::Kind kind = InputMessage::Kind::click) {
  InputMessage message;
  message.kind = kind;
  message.x = x;
  message.y = y;
  message.displayID = kSecondDisplay;
  return message;
}

TEST_F(PointerInjectorTest, MapsFractionsOntoTheLastPixelAndClampsOutsideValues) {
  EXPECT_EQ(injector.displayPoint(at(1, 1)), (Point{3359, 1079}));
  EXPECT_EQ(injector.displayPoint(at(0, 0)), (Point{1440, 0}));
  EXPECT_EQ(injector.displayPoint(at(-0.3, 7)), (Point{1440, 1079}));
  EXPECT_EQ(injector.displayPoint(at(7, -2)), (Point{3359, 0}));
  EXPECT_EQ(injector.displayPoint(at(std::numeric_limits<double>::quiet_NaN(), 0.5)), (Point{1440, 539.5}));
}

TEST_F(PointerInjectorTest, UnknownOrDetachedDisplayPostsNothingButIsNoRefusal) {
  for (DisplayID id : {DisplayID{3}, DisplayID{9}}) {
    InputMessage message = at(0.5, 0.5);
    message.displayID = id;
    EXPECT_EQ(injector.displayPoint(message), std::nullopt);
    EXPECT_TRUE(injector.injectPointerInput(message));
  }
  EXPECT_TRUE(sink.events.empty());
}

TEST_F(PointerInjectorTest, UntrustedProcessPostsNothingWhateverTheMessage) {
  trusted = false;
  InputMessage scroll = at(0.5, 0.5, InputMessage::Kind::scroll);
  scroll.scrollY = -120;
  scroll.scrollBegan = true;
  EXPECT_FALSE(injector.injectPointerInput(at(0.5, 0.5)));
  EXPECT_FALSE(injector.injectPointerInput(scroll));
  EXPECT_TRUE(sink.events.empty());
}

TEST_F(PointerInjectorTest, ClicksMoveFirstThenPressAndReleaseWithClampedClickState) {
  InputMessage right = at(1, 1, InputMessage::Kind::rightClick);
  right.clickCount = 5;
  ASSERT_TRUE(injector.injectPointerInput(right));
  Point p{3359, 1079};
  std::vector<PointerEvent> expected{
      {.type = Type::moved, .point = p},
      {.type = Type::down, .point = p, .button = PointerButton::right, .clickState = 3},
      {.type = Type::up, .point = p, .button = PointerButton::right, .clickState = 3},
  };
  EXPECT_EQ(sink.events, expected);

  for (int64_t count : {int64_t{0}, int64_t{-4}, std::numeric_limits<int64_t>::min()}) {
    sink.events.clear();
    InputMessage left = at(0, 0);
    left.clickCount = count;
    injector.injectPointerInput(left);
    ASSERT_EQ(sink.events.size(), 3u);
    EXPECT_EQ(sink.events[1].button, PointerButton::left);
    EXPECT_EQ(sink.events[1].clickState, 1);
    EXPECT_EQ(sink.events[2].type, Type::up);
  }
}

TEST_F(PointerInjectorTest, ScrollMovesFirstOnlyWhenAGestureBegins) {
  InputMessage scroll = at(0, 0, InputMessage::Kind::scroll);
  scroll.scrollY = -120;
  injector.injectPointerInput(scroll);
  std::vector<PointerEvent> expected{{.type = Type::scroll, .point = {1440, 0}, .scrollY = -120, .scrollX = 0}};
  EXPECT_EQ(sink.events, expected);

  sink.events.clear();
  scroll.scrollY.reset();
  injector.injectPointerInput(scroll);  // nothing to scroll, no gesture start
  EXPECT_TRUE(sink.events.empty());

  scroll.scrollBegan = true;
  injector.injectPointerInput(scroll);
  expected = {{.type = Type::moved, .point = {1440, 0}}};
  EXPECT_EQ(sink.events, expected);
}

TEST_F(PointerInjectorTest, ScrollDistancesAreClampedTo32Bits) {
  InputMessage scroll = at(0, 0, InputMessage::Kind::scroll);
  scroll.scrollY = int64_t{1} << 40;
  scroll.scrollX = -(int64_t{1} << 40);
  scroll.scrollBegan = true;
  injector.injectPointerInput(scroll);
  ASSERT_EQ(sink.events.size(), 2u);
  EXPECT_EQ(sink.events[1].scrollY, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(sink.events[1].scrollX, std::numeric_limits<int32_t>::min());
  EXPECT_TRUE(sink.events[1].beginsGesture);
}

TEST(WheelAccumulatorTest, SlowScrollsAddUpAndFastOnesAreNotMultiplied) {
  WheelAccumulator wheel;
  wheel.beginGesture();
  int64_t clicks = 0;
  for (int i = 0; i < 10; ++i) clicks += wheel.clicksFor(-12);  // 120 px in small steps
  EXPECT_EQ(clicks, -120 / WheelAccumulator::kPixelsPerClick);
  EXPECT_EQ(wheel.clicksFor(WheelAccumulator::kPixelsPerClick * 5), 5);
  EXPECT_EQ(wheel.clicksFor(std::numeric_limits<int32_t>::max()),
            std::numeric_limits<int32_t>::max() / WheelAccumulator::kPixelsPerClick);
}

TEST(WheelAccumulatorTest, RemainderDoesNotLeakIntoTheNextGesture) {
  WheelAccumulator wheel;
  EXPECT_EQ(wheel.clicksFor(WheelAccumulator::kPixelsPerClick - 1), 0);
  wheel.beginGesture();
  EXPECT_EQ(wheel.clicksFor(1), 0);
  EXPECT_EQ(wheel.clicksFor(-1), 0);  // back to nothing, not a click the other way
  EXPECT_EQ(wheel.clicksFor(-WheelAccumulator::kPixelsPerClick), -1);
}

}  // namespace
}  // namespace vistaro
