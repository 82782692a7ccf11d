#include "platform/x11/x11_application_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "platform/x11/window_geometry.h"
#include "platform/x11/window_properties.h"

namespace vistaro::x11 {

std::vector<ApplicationWindow> X11ApplicationWindows::windowsOf(int32_t pid) {
  std::vector<ApplicationWindow> result;
  Connection* connection = connection_.get();
  if (!connection) return result;
  ::Display* d = connection->get();
  for (Window window : topLevelWindows(d)) {
    if (!live(connection)) break;
    const auto pids = cardinals(d, window, "_NET_WM_PID", XA_CARDINAL, 1);
    if (pids.size() != 1 || static_cast<int64_t>(pids[0]) != pid) continue;
    const auto shown = shownWindow(d, window);
    if (!shown) continue;
    // Without the shadows of client-side decorations: part of the window, not of its content.
    const Rect content = inset(shown->area, marginsProperty(d, window, "_GTK_FRAME_EXTENTS"));
    result.push_back({windowTitle(d, window), windowClass(d, window).value_or(WindowClass{}).name, content});
  }
  connection->takeError();  // windows may go while they are read: what was read stands
  return result;
}

}  // namespace vistaro::x11
