#include "input/pointer_injector.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>

namespace vistaro::testing {
namespace {

// Records the events it is given; displays are whatever the test puts in `displays`.
class FakePointerDevice final : public PointerDevice {
 public:
  bool isUsable = true;
  std::map<DisplayID, Rect> displays;
  std::vector<PointerEvent> events;

  bool usable() override { return isUsable; }
  std::optional<Rect> boundsOf(DisplayID id) override {
    if (auto found = displays.find(id); found != displays.end()) return found->second;
    return std::nullopt;
  }
  void post(const PointerEvent& event) override { events.push_back(event); }
};

using Kind = InputMessage::Kind;
using Type = PointerEvent::Type;
using Events = std::vector<PointerEvent>;
constexpr DisplayID kWide = 0, kDetached = 9, kUnknown = 3;  // messages are for display 0 unless they say

TEST(PointerInjectorTest, MessagesBecomeEventsAtTheirPointUpToTheLastPixelOrNothingWhenUntrusted) {
  FakePointerDevice device;
  device.displays = {{kWide, Rect{1440, 0, 1920, 1080}}, {kDetached, Rect{}}};
  PointerInjector injector{device};
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
      {{.kind = Kind::scroll, .scrollY = -120}, {{.type = Type::scroll, .point = origin, .scrollY = -120}}},
      {{.kind = Kind::scroll, .scrollX = -(int64_t{1} << 40), .scrollY = 1 << 30, .scrollBegan = true},
       {{.type = Type::moved, .point = origin},
        {.type = Type::scroll, .point = origin, .scrollY = 1 << 30, .scrollX = std::numeric_limits<int32_t>::min(),
         .beginsGesture = true}}},
      {{.kind = Kind::scroll, .scrollBegan = true}, {{.type = Type::moved, .point = origin}}},
      {{.kind = Kind::scroll}, {}},
      {{.displayID = kUnknown}, {}},  // no refusal either
      {{.displayID = kDetached}, {}}};
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

}  // namespace
}  // namespace vistaro::testing
