#include "platform/x11/x11_pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>

#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {
namespace {

constexpr unsigned kWheelUp = 4, kWheelDown = 5, kWheelLeft = 6, kWheelRight = 7;


}  // namespace

X11Pointer::X11Pointer(const std::string& displayName) : displayName_(displayName) { connect(); }

void X11Pointer::connect() {
  connection_ = Connection::open(displayName_);
  hasXTest_ = offersXTest(connection_.get());
  vertical_.beginGesture();
  horizontal_.beginGesture();
  reconnect_.connected();
}

bool X11Pointer::usable() {
  if (!live(connection_.get()) && reconnect_.due()) connect();
  return hasXTest_ && live(connection_.get());
}

std::optional<Rect> X11Pointer::boundsOf(DisplayID id) {
  if (!usable()) return std::nullopt;
  for (const Monitor& monitor : listMonitors(connection_->get())) {
    if (monitor.id == id) return monitor.bounds;
  }
  return std::nullopt;
}

void X11Pointer::post(const PointerEvent& event) {
  if (!usable()) return;
  ::Display* d = connection_->get();
  unsigned button = event.button == PointerButton::right ? Button3 : Button1;
  switch (event.type) {
    case PointerEvent::Type::moved:
      moveTo(event.point);
      break;
    case PointerEvent::Type::down:
    case PointerEvent::Type::up:
      // Move with the press too: another client may have moved the pointer since.
      moveTo(event.point);
      XTestFakeButtonEvent(d, button, event.type == PointerEvent::Type::down, CurrentTime);
      break;
    case PointerEvent::Type::scroll:
      if (event.beginsGesture) {
        vertical_.beginGesture();
        horizontal_.beginGesture();
      }
      clickWheel(vertical_.clicksFor(event.scrollY), kWheelUp, kWheelDown);
      clickWheel(horizontal_.clicksFor(event.scrollX), kWheelLeft, kWheelRight);
      break;
  }
  XFlush(d);
}

void X11Pointer::moveTo(Point point) {
  XTestFakeMotionEvent(connection_->get(), -1, static_cast<int>(std::lround(point.x)),
                       static_cast<int>(std::lround(point.y)), CurrentTime);
}

void X11Pointer::clickWheel(int64_t clicks, unsigned positiveButton, unsigned negativeButton) {
  unsigned button = clicks > 0 ? positiveButton : negativeButton;
  int64_t count = std::min(std::abs(clicks), kMaxClicksPerEvent);
  for (int64_t i = 0; i < count; ++i) {
    XTestFakeButtonEvent(connection_->get(), button, True, CurrentTime);
    XTestFakeButtonEvent(connection_->get(), button, False, CurrentTime);
  }
}

}  // namespace vistaro::x11
