#pragma once

#include <cstdint>
#include <optional>

#include "core/display_info.h"
#include "core/geometry.h"

namespace vistaro {

enum class PointerButton { left, right };

// One synthetic pointer event, in global display coordinates.
struct PointerEvent {
  enum class Type { moved, down, up, scroll };
  Type type = Type::moved;
  Point point;
  PointerButton button = PointerButton::left;
  int clickState = 0;       // down/up: 1 single, 2 double, 3 triple
  int32_t scrollY = 0;      // scroll: pixels, positive = towards the top of the content
  int32_t scrollX = 0;      // scroll: pixels, positive = towards the left
  bool beginsGesture = false;  // scroll: first event of a new gesture
  bool operator==(const PointerEvent&) const = default;
};

// The desktop's pointer as the injector drives it: the device, or a recorder in tests.
class PointerDevice {
 public:
  virtual ~PointerDevice() = default;
  // Input may be injected at all (on X11: the server is there and offers XTest).
  virtual bool usable() = 0;
  // A display's bounds in global coordinates; absent when there is no such display.
  virtual std::optional<Rect> boundsOf(DisplayID id) = 0;
  // Posts in call order.
  virtual void post(const PointerEvent& event) = 0;
};

}  // namespace vistaro
