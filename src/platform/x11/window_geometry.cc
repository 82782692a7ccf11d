#include "platform/x11/window_geometry.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace vistaro::x11 {

Margins marginsProperty(::Display* d, WindowID window, const char* name) {
  const auto values = cardinals(d, window, name, XA_CARDINAL, 4);
  if (values.size() != 4) return {};
  return {double(values[0]), double(values[1]), double(values[2]), double(values[3])};
}

std::optional<ShownWindow> shownWindow(::Display* d, WindowID window) {
  XWindowAttributes attributes{};
  Window child = 0;
  int x = 0, y = 0;
  if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state != IsViewable) return std::nullopt;
  if (!XTranslateCoordinates(d, window, attributes.root, 0, 0, &x, &y, &child)) return std::nullopt;
  return ShownWindow{{double(x), double(y), double(attributes.width), double(attributes.height)},
                     attributes.border_width, attributes.override_redirect != 0};
}

}  // namespace vistaro::x11
