#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/display_info.h"
#include "core/geometry.h"
#include "platform/x11/xlib_fwd.h"

namespace vistaro::x11 {

// One RandR monitor: a region of the root window that the desktop treats as a screen.
struct Monitor {
  DisplayID id = 0;
  std::string name;  // empty when the server gives the monitor no usable name
  Rect bounds;       // root-window pixels
  bool primary = false;
};

// Stable across restarts of the host and of the X server: derived from the name alone.
DisplayID monitorID(std::string_view name);

// The monitors of the default screen in the server's order. Without RandR 1.5 (or with no
// active monitor) the whole root window is the one monitor. IDs are unique within the list.
std::vector<Monitor> listMonitors(::Display* display);

}  // namespace vistaro::x11
