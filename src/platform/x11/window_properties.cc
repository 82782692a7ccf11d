#include "platform/x11/window_properties.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "core/display_text.h"

namespace vistaro::x11 {
namespace {

constexpr long kMaxWindows = 4096;  // a client list longer than this is not a desktop's
// Titles are compared, stored and shown; a program may set any bytes, of any length.
constexpr long kMaxTitleBytes = 4096;
constexpr size_t kMaxTitleCharacters = 1024;

std::string utf8Name(::Display* d, Window window) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string result;
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  if (XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False), 0, kMaxTitleBytes / 4, False, utf8, &type,
                         &format, &count, &after, &data) == Success &&
      type == utf8 && format == 8) {
    result.assign(reinterpret_cast<const char*>(data), count);
  }
  if (data) XFree(data);
  return result;
}

// WM_NAME comes as Latin-1 (STRING) or COMPOUND_TEXT; Xlib converts either whatever our locale.
std::string legacyName(::Display* d, Window window) {
  XTextProperty property{};
  std::string result;
  if (!XGetWMName(d, window, &property)) return result;
  char** list = nullptr;
  int count = 0;
  if (Xutf8TextPropertyToTextList(d, &property, &list, &count) >= Success && list) {
    if (count > 0 && list[0]) result = list[0];
    XFreeStringList(list);
  }
  if (property.value) XFree(property.value);
  return result;
}

}  // namespace

std::vector<unsigned long> cardinals(::Display* d, WindowID window, const char* name, AtomID type, long max) {
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

std::string windowTitle(::Display* d, WindowID window) {
  std::string title = utf8Name(d, window);
  if (title.empty()) title = legacyName(d, window);
  return displayableText(title, kMaxTitleCharacters);
}

std::optional<WindowClass> windowClass(::Display* d, WindowID window) {
  XClassHint hint{};
  if (!XGetClassHint(d, window, &hint)) return std::nullopt;
  WindowClass result{hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return result;
}

std::optional<unsigned long> currentDesktop(::Display* d) {
  const auto values = cardinals(d, DefaultRootWindow(d), "_NET_CURRENT_DESKTOP", XA_CARDINAL, 1);
  if (values.size() != 1) return std::nullopt;
  return values[0];
}

bool hasWindowManager(::Display* d) {
  const auto check = cardinals(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1);
  return check.size() == 1 && cardinals(d, check[0], "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1) == check;
}

std::vector<WindowID> topLevelWindows(::Display* d) {
  const Window root = DefaultRootWindow(d);
  std::vector<WindowID> windows;
  // Under a window manager the root's children are its frames, not programs' windows.
  if (hasWindowManager(d)) {
    for (unsigned long id : cardinals(d, root, "_NET_CLIENT_LIST", XA_WINDOW, kMaxWindows)) windows.push_back(id);
    return windows;
  }
  Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(d, root, &rootReturn, &parent, &children, &count)) windows.assign(children, children + count);
  if (children) XFree(children);
  return windows;
}

}  // namespace vistaro::x11
