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
  lifted_.reset();
  connection_ = Connection::open(displayName_);
  events_ = Connection::open(displayName_);
  hasXTest_ = offersXTest(connection_.get());
  vertical_.beginGesture();
  horizontal_.beginGesture();
  reconnect_.connected();
}

bool X11Pointer::usable() {
  if ((!live(connection_.get()) || !live(events_.get())) && reconnect_.due()) connect();
  return hasXTest_ && live(connection_.get()) && live(events_.get());
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
  ::Display* d = events_->get();
  unsigned button = event.button == PointerButton::right ? Button3 : Button1;
  switch (event.type) {
    case PointerEvent::Type::moved:
      moveTo(event.point);
      break;
    case PointerEvent::Type::down:
      press(event, button);
      break;
    case PointerEvent::Type::up:
      moveTo(event.point);
      XTestFakeButtonEvent(d, button, False, CurrentTime);
      lifted_.reset();
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

void X11Pointer::moveTo(Point point, Duration delay) {
  XTestFakeMotionEvent(events_->get(), -1, static_cast<int>(std::lround(point.x)), static_cast<int>(std::lround(point.y)),
                       std::chrono::ceil<std::chrono::milliseconds>(delay).count());
}

void X11Pointer::press(const PointerEvent& event, unsigned button) {
  ::Display* d = events_->get();
  ClickSequencer::Plan plan = clicks_.press(event.button, event.point, event.clickState, Clock::now());
  // Move with the press too: another client may have moved the pointer since. The server
  // holds this connection's requests back for the wait, the presses included.
  moveTo(event.point, plan.wait);
  lifted_.reset();
  lifted_.emplace(*events_, connection_.get());
  for (int i = 1; i < plan.presses; ++i) {
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
  }
  XTestFakeButtonEvent(d, button, True, CurrentTime);
}

void X11Pointer::clickWheel(int64_t clicks, unsigned positiveButton, unsigned negativeButton) {
  unsigned button = clicks > 0 ? positiveButton : negativeButton;
  int64_t count = std::min(std::abs(clicks), kMaxClicksPerEvent);
  for (int64_t i = 0; i < count; ++i) {
    XTestFakeButtonEvent(events_->get(), button, True, CurrentTime);
    XTestFakeButtonEvent(events_->get(), button, False, CurrentTime);
  }
}

}  // namespace vistaro::x11
