#pragma once

#include <optional>

#include "core/geometry.h"
#include "platform/x11/window_properties.h"

namespace vistaro::x11 {

// What lies around a window's own area on each side, in pixels; negative where the window's own
// area reaches beyond what the user sees as the window (the shadows a toolkit draws around itself).
struct Margins {
  double left = 0;
  double right = 0;
  double top = 0;
  double bottom = 0;
  bool operator==(const Margins&) const = default;
};

inline Rect outset(const Rect& r, const Margins& m) {
  return {r.x - m.left, r.y - m.top, r.width + m.left + m.right, r.height + m.top + m.bottom};
}
inline Rect inset(const Rect& r, const Margins& m) {
  return {r.x + m.left, r.y + m.top, r.width - m.left - m.right, r.height - m.top - m.bottom};
}

// A property of four cardinals in the order left, right, top, bottom (_NET_FRAME_EXTENTS,
// _GTK_FRAME_EXTENTS); zero when absent.
Margins marginsProperty(::Display* display, WindowID window, const char* name);

struct ShownWindow {
  Rect area;  // inside its border, in root pixels
  int border = 0;
  bool overrideRedirect = false;  // a menu or tooltip that no window manager arranges
};
// Absent when the window is not viewable (unmapped, or in an unmapped frame) or gone.
std::optional<ShownWindow> shownWindow(::Display* display, WindowID window);

}  // namespace vistaro::x11
