#pragma once

#include <optional>

#include "core/geometry.h"
#include "input/pointer_event.h"
#include "wire/messages.h"

namespace vistaro {

// Turns the client's pointer messages into events at the point they designate.
// Keeps no state between calls; callers serialise the calls.
class PointerInjector {
 public:
  explicit PointerInjector(PointerDevice& device) : device_(device) {}

  // The global point of a message's fractions. (1, 1) is the last pixel of the display,
  // never the first pixel of its neighbour.
  std::optional<Point> displayPoint(const InputMessage& message);

  // The process may inject input (the desktop's trust query).
  bool isTrusted() { return device_.usable(); }

  // False only when the process may not inject; then nothing is posted.
  bool injectPointerInput(const InputMessage& message);

 private:
  void postClick(const InputMessage& message, Point point);
  void postScroll(const InputMessage& message, Point point);

  PointerDevice& device_;
};

}  // namespace vistaro
