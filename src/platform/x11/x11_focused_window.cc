#include "platform/x11/x11_focused_window.h"

#include <X11/Xlib.h>

#include <optional>

#include "platform/x11/window_properties.h"

namespace vistaro::x11 {
namespace {

// Window managers and toolkits nest windows a few levels deep at most.
constexpr int kMaxDepth = 16;

std::optional<std::vector<std::string>> classOf(::Display* d, Window window) {
  const auto names = windowClass(d, window);
  if (!names) return std::nullopt;
  return std::vector<std::string>{names->instance, names->name};
}

Window parentOf(::Display* d, Window window) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, window, &root, &parent, &children, &count)) return 0;
  if (children) XFree(children);
  return parent;
}

}  // namespace

X11FocusedWindow::X11FocusedWindow(std::string displayName)
    : displayName_(std::move(displayName)), connection_(Connection::open(displayName_)) {
  reconnect_.connected();
}

std::vector<std::string> X11FocusedWindow::classNames() {
  if (!live(connection_.get()) && reconnect_.due()) {
    connection_ = Connection::open(displayName_);
    reconnect_.connected();
  }
  if (!live(connection_.get())) return {};
  ::Display* d = connection_->get();
  const Window root = DefaultRootWindow(d);
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  if (focus == None) return {};
  if (focus == PointerRoot || focus == root) {
    // Keys go to the window under the pointer; its class is on the application's window, below any frame.
    Window window = root, child = 0;
    for (int depth = 0; depth < kMaxDepth; ++depth, window = child) {
      Window rootReturn = 0;
      int rootX = 0, rootY = 0, x = 0, y = 0;
      unsigned mask = 0;
      if (!XQueryPointer(d, window, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask) || child == None) return {};
      if (auto names = classOf(d, child)) return *names;
    }
    return {};
  }
  // The focus may be on a widget inside the application's window; the class is on that window.
  for (int depth = 0; focus != 0 && focus != root && depth < kMaxDepth; ++depth, focus = parentOf(d, focus)) {
    if (auto names = classOf(d, focus)) return *names;
  }
  return {};
}

}  // namespace vistaro::x11
