#pragma once

#include <functional>
#include <optional>

#include "core/geometry.h"
#include "input/pointer_event.h"
#include "server/messages.h"

namespace vistaro {

// Bounds of a display in global coordinates; absent (or empty) when there is no such display.
using DisplayBoundsLookup = std::function<std::optional<Rect>(DisplayID)>;

// Turns the client's pointer messages into events at the point they designate.
// Keeps no state between calls; callers serialise the calls.
class PointerInjector {
 public:
  PointerInjector(std::function<bool()> isTrusted, DisplayBoundsLookup bounds, PointerEventSink& sink);

  // The global point of a message's fractions. (1, 1) is the last pixel of the display,
  // never the first pixel of its neighbour.
  std::optional<Point> displayPoint(const InputMessage& message) const;

  // The process may inject input (the desktop's trust query).
  bool isTrusted() const { return isTrusted_(); }

  // False only when the process may not inject; then nothing is posted.
  bool injectPointerInput(const InputMessage& message);

 private:
  void postClick(const InputMessage& message, Point point);
  void postScroll(const InputMessage& message, Point point);

  std::function<bool()> isTrusted_;
  DisplayBoundsLookup bounds_;
  PointerEventSink& sink_;
};

}  // namespace vistaro
