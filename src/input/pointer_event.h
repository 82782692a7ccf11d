#pragma once

#include <cstdint>

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

// Where pointer events go: the desktop, or a recorder in tests. Posts in call order.
class PointerEventSink {
 public:
  virtual ~PointerEventSink() = default;
  virtual void post(const PointerEvent& event) = 0;
};

}  // namespace vistaro
