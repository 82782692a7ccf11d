#include "input/pointer_injector.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace vistaro {
namespace {

int32_t clampToInt32(std::optional<int64_t> value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value.value_or(0), std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

double clampFraction(double value) {
  // NaN cannot come from JSON, but a stray one must not escape the display.
  if (!(value >= 0)) return 0;
  return std::min(value, 1.0);
}

}  // namespace

std::optional<Point> PointerInjector::displayPoint(const InputMessage& message) {
  std::optional<Rect> bounds = device_.boundsOf(message.displayID);
  if (!bounds || bounds->isEmpty()) return std::nullopt;
  return Point{bounds->minX() + clampFraction(message.x) * (bounds->width - 1),
               bounds->minY() + clampFraction(message.y) * (bounds->height - 1)};
}

bool PointerInjector::injectPointerInput(const InputMessage& message) {
  if (!device_.usable()) return false;
  std::optional<Point> point = displayPoint(message);
  if (!point) return true;
  if (message.kind == InputMessage::Kind::scroll) {
    postScroll(message, *point);
  } else {
    postClick(message, *point);
  }
  return true;
}

void PointerInjector::postClick(const InputMessage& message, Point point) {
  PointerButton button =
      message.kind == InputMessage::Kind::rightClick ? PointerButton::right : PointerButton::left;
  int state = static_cast<int>(std::clamp<int64_t>(message.clickCount, 1, 3));
  device_.post({.type = PointerEvent::Type::moved, .point = point});
  device_.post({.type = PointerEvent::Type::down, .point = point, .button = button, .clickState = state});
  device_.post({.type = PointerEvent::Type::up, .point = point, .button = button, .clickState = state});
}

void PointerInjector::postScroll(const InputMessage& message, Point point) {
  bool began = message.scrollBegan.value_or(false);
  if (began) device_.post({.type = PointerEvent::Type::moved, .point = point});
  int32_t dy = clampToInt32(message.scrollY);
  int32_t dx = clampToInt32(message.scrollX);
  if (dy == 0 && dx == 0) return;
  device_.post({.type = PointerEvent::Type::scroll, .point = point, .scrollY = dy, .scrollX = dx,
              .beginsGesture = began});
}

}  // namespace vistaro
