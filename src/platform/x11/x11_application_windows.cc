#include "platform/x11/x11_application_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vistaro::x11 {
namespace {

constexpr long kMaxWindows = 4096;  // a client list longer than this is not a desktop's

// A property of 32-bit items (Xlib hands them out as longs); empty when absent or of another type.
std::vector<unsigned long> longs(::Display* d, Window window, const char* name, Atom type, long max) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> result;
  if (XGetWindowProperty(d, window, XInternAtom(d, name, False), 0, max, False, type, &actualType, &format, &count,
                         &after, &data) == Success &&
      actualType == type && format == 32) {
    const auto* items = reinterpret_cast<const unsigned long*>(data);
    result.assign(items, items + count);
  }
  if (data) XFree(data);
  return result;
}

std::string title(::Display* d, Window window) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string result;
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  if (XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False, utf8, &type, &format,
                         &count, &after, &data) == Success &&
      type == utf8 && format == 8) {
    result.assign(reinterpret_cast<const char*>(data), count);
  }
  if (data) XFree(data);
  char* name = nullptr;
  if (result.empty() && XFetchName(d, window, &name) && name) result = name;
  if (name) XFree(name);
  return result;
}

std::string windowClass(::Display* d, Window window) {
  XClassHint hint{};
  std::string result;
  if (XGetClassHint(d, window, &hint) && hint.res_class) result = hint.res_class;
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return result;
}

std::vector<Window> topLevelWindows(::Display* d) {
  const Window root = DefaultRootWindow(d);
  std::vector<Window> windows;
  for (unsigned long id : longs(d, root, "_NET_CLIENT_LIST", XA_WINDOW, kMaxWindows)) windows.push_back(id);
  if (!windows.empty()) return windows;
  Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(d, root, &rootReturn, &parent, &children, &count)) windows.assign(children, children + count);
  if (children) XFree(children);
  return windows;
}

std::optional<Rect> contentOf(::Display* d, Window window) {
  XWindowAttributes attributes{};
  Window child = 0;
  int x = 0, y = 0;
  if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state != IsViewable) return std::nullopt;
  if (!XTranslateCoordinates(d, window, attributes.root, 0, 0, &x, &y, &child)) return std::nullopt;
  Rect content{double(x), double(y), double(attributes.width), double(attributes.height)};
  // Left, right, top, bottom: the shadows of client-side decorations, part of the window but not of its content.
  const auto shadows = longs(d, window, "_GTK_FRAME_EXTENTS", XA_CARDINAL, 4);
  if (shadows.size() == 4) {
    content = {content.x + double(shadows[0]), content.y + double(shadows[2]),
               content.width - double(shadows[0] + shadows[1]), content.height - double(shadows[2] + shadows[3])};
  }
  return content;
}

}  // namespace

::Display* X11ApplicationWindows::display() {
  if (!live(connection_.get()) && (!attempted_ || reconnect_.due())) {
    attempted_ = true;
    connection_ = Connection::open(displayName_);
    reconnect_.connected();
  }
  return live(connection_.get()) ? connection_->get() : nullptr;
}

std::vector<ApplicationWindow> X11ApplicationWindows::windowsOf(int32_t pid) {
  std::vector<ApplicationWindow> result;
  ::Display* d = display();
  if (!d) return result;
  for (Window window : topLevelWindows(d)) {
    if (!live(connection_.get())) break;
    const auto pids = longs(d, window, "_NET_WM_PID", XA_CARDINAL, 1);
    if (pids.size() != 1 || static_cast<int64_t>(pids[0]) != pid) continue;
    if (auto content = contentOf(d, window)) result.push_back({title(d, window), windowClass(d, window), *content});
  }
  connection_->takeError();  // windows may go while they are read: what was read stands
  return result;
}

}  // namespace vistaro::x11
