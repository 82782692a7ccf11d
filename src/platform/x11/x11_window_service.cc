#include "platform/x11/x11_window_service.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>
#include <thread>

#include "platform/x11/window_geometry.h"
#include "platform/x11/work_area.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {
namespace {

constexpr long kFromPager = 2;  // source indication: a tool acting for the user, not the program itself
constexpr long kGravity = NorthWestGravity;  // the position is the frame's top left corner
constexpr unsigned long kAllDesktops = 0xFFFFFFFF;
constexpr auto kApplyPoll = std::chrono::milliseconds(5);
constexpr int kSteadyPolls = 2;  // a changed frame that stays so this often is what the window manager granted

bool normalType(::Display* d, Window window) {
  const Atom normal = XInternAtom(d, "_NET_WM_WINDOW_TYPE_NORMAL", False);
  // In order of preference; the first standard type decides, types of one desktop's own are passed over.
  for (Atom type : cardinals(d, window, "_NET_WM_WINDOW_TYPE", XA_ATOM, 16)) {
    if (type == normal) return true;
    std::unique_ptr<char, int (*)(void*)> name(XGetAtomName(d, type), XFree);
    if (name && std::string_view(name.get()).starts_with("_NET_WM_WINDOW_TYPE_")) return false;
  }
  // Untyped: a dialog when transient for another window, else normal (xterm sets no type).
  Window owner = None;
  return !XGetTransientForHint(d, window, &owner);
}

bool minimisedOrFullScreen(::Display* d, Window window) {
  const Atom hidden = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
  const Atom fullScreen = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
  for (Atom state : cardinals(d, window, "_NET_WM_STATE", XA_ATOM, 32)) {
    if (state == hidden || state == fullScreen) return true;
  }
  const auto icccm = cardinals(d, window, "WM_STATE", XInternAtom(d, "WM_STATE", False), 2);
  return !icccm.empty() && icccm[0] == IconicState;
}

bool onDesktop(::Display* d, Window window, std::optional<unsigned long> current) {
  const auto desktop = cardinals(d, window, "_NET_WM_DESKTOP", XA_CARDINAL, 1);
  return desktop.empty() || !current || desktop[0] == *current || desktop[0] == kAllDesktops;
}

bool ours(::Display* d, Window window) {
  const auto pid = cardinals(d, window, "_NET_WM_PID", XA_CARDINAL, 1);
  return pid.size() == 1 && pid[0] == static_cast<unsigned long>(getpid());
}

int borderOf(::Display* d, Window window) {
  Window root = None;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  return XGetGeometry(d, window, &root, &x, &y, &width, &height, &border, &depth) ? int(border) : 0;
}

void askWindowManager(::Display* d, Window window, const char* request, std::initializer_list<long> data) {
  XEvent message{};
  XClientMessageEvent& m = message.xclient;
  m.type = ClientMessage;
  m.window = window;
  m.message_type = XInternAtom(d, request, False);
  m.format = 32;
  std::copy(data.begin(), data.end(), m.data.l);
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &message);
}

bool maximised(::Display* d, Window window) {
  const Atom vertical = XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_VERT", False);
  const Atom horizontal = XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
  const auto states = cardinals(d, window, "_NET_WM_STATE", XA_ATOM, 32);
  return std::any_of(states.begin(), states.end(), [&](unsigned long s) { return s == vertical || s == horizontal; });
}

// What a window keeps around its own area: the window manager's frame and its border, less the
// shadows its toolkit draws (which the user does not see as part of the window).
struct Decorations {
  Margins frame;
  int border = 0;
  Margins shadows;
  Margins total() const {
    return {frame.left + border - shadows.left, frame.right + border - shadows.right,
            frame.top + border - shadows.top, frame.bottom + border - shadows.bottom};
  }
};

Decorations decorationsOf(::Display* d, Window window, int border) {
  return {marginsProperty(d, window, "_NET_FRAME_EXTENTS"), border, marginsProperty(d, window, "_GTK_FRAME_EXTENTS")};
}

std::optional<Rect> frameOf(::Display* d, WindowID window) {
  const auto shown = shownWindow(d, window);
  if (!shown) return std::nullopt;
  return outset(shown->area, decorationsOf(d, window, shown->border).total());
}

std::optional<DesktopWindow> fittable(Connection& connection, WindowID window,
                                       std::optional<unsigned long> desktop) {
  ::Display* d = connection.get();
  connection.takeError();
  const auto shown = shownWindow(d, window);
  if (!shown || shown->overrideRedirect || !normalType(d, window) || minimisedOrFullScreen(d, window) ||
      !onDesktop(d, window, desktop) || ours(d, window)) {
    return std::nullopt;
  }
  DesktopWindow result{window, windowClass(d, window).value_or(WindowClass{}).name, windowTitle(d, window),
                       outset(shown->area, decorationsOf(d, window, shown->border).total())};
  // A window that went while it was read is no longer there to arrange.
  if (connection.takeError() != 0) return std::nullopt;
  return result;
}

// Both the window manager (with north-west gravity) and the server place the outer corner of what
// holds the window: the frame as the user sees it, with the toolkit's shadows.
void request(::Display* d, Window window, const Rect& frame, bool resize, bool managed,
             const Decorations& decorations) {
  const long x = std::lround(frame.x - decorations.shadows.left), y = std::lround(frame.y - decorations.shadows.top);
  const Rect content = inset(frame, decorations.total());
  const long width = std::max(1L, std::lround(content.width)), height = std::max(1L, std::lround(content.height));
  if (managed) {
    const long position = 1 << 8 | 1 << 9, size = 1 << 10 | 1 << 11;
    const long flags = kGravity | (resize ? position | size : position) | kFromPager << 12;
    askWindowManager(d, window, "_NET_MOVERESIZE_WINDOW", {flags, x, y, width, height});
  } else if (resize) {
    XMoveResizeWindow(d, window, int(x), int(y), unsigned(width), unsigned(height));
  } else {
    XMoveWindow(d, window, int(x), int(y));
  }
  XSync(d, False);
}

bool near(double a, double b) { return std::abs(a - b) <= 1; }

// The window manager acts in its own time, moving the frame and sizing the window one after the
// other, and may grant less than asked (size hints); the caller reads the frame back right after.
void awaitFrame(Connection& connection, Window window, const Rect& frame, bool resize, const Rect& before) {
  const auto arrived = [&](const Rect& now) {
    return near(now.x, frame.x) && near(now.y, frame.y) &&
           (!resize || (near(now.width, frame.width) && near(now.height, frame.height)));
  };
  Rect last = before;
  const TimePoint deadline = Clock::now() + X11WindowService::kApplyPatience;
  for (int steady = 0; live(&connection) && Clock::now() < deadline;) {
    const auto now = frameOf(connection.get(), window);
    if (!now || arrived(*now) || (*now == last && *now != before && ++steady == kSteadyPolls)) break;
    if (*now != last) last = *now, steady = 0;
    std::this_thread::sleep_for(kApplyPoll);
  }
}

}  // namespace

X11WindowService::X11WindowService(Executor& main, std::string displayName)
    : connection_(displayName), switches_(main, std::move(displayName)) {}

std::vector<DesktopWindow> X11WindowService::windows() {
  std::vector<DesktopWindow> result;
  Connection* connection = connection_.get();
  if (!connection) return result;
  ::Display* d = connection->get();
  const auto desktop = currentDesktop(d);
  for (WindowID window : topLevelWindows(d)) {
    if (!live(connection)) return {};
    if (auto found = fittable(*connection, window, desktop)) result.push_back(std::move(*found));
  }
  return result;
}

std::optional<Rect> X11WindowService::frame(uint64_t window) {
  Connection* connection = connection_.get();
  if (!connection) return std::nullopt;
  connection->takeError();
  const auto result = frameOf(connection->get(), window);
  if (connection->takeError() != 0) return std::nullopt;
  return result;
}

std::optional<uint64_t> X11WindowService::activeWindow() {
  Connection* connection = connection_.get();
  if (!connection) return std::nullopt;
  ::Display* d = connection->get();
  const auto active = cardinals(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW", XA_WINDOW, 1);
  if (active.size() != 1) return std::nullopt;
  const auto clients = topLevelWindows(d);
  if (std::find(clients.begin(), clients.end(), active[0]) == clients.end()) return std::nullopt;
  if (!fittable(*connection, active[0], currentDesktop(d))) return std::nullopt;
  return active[0];
}

std::optional<Rect> X11WindowService::workArea(DisplayID display) {
  Connection* connection = connection_.get();
  if (!connection) return std::nullopt;
  ::Display* d = connection->get();
  const auto monitors = listMonitors(d);
  const auto monitor = std::find_if(monitors.begin(), monitors.end(), [&](const Monitor& m) { return m.id == display; });
  if (monitor == monitors.end()) return std::nullopt;
  const int screen = DefaultScreen(d);
  const Rect root{0, 0, double(DisplayWidth(d, screen)), double(DisplayHeight(d, screen))};
  std::vector<Strut> struts;
  for (WindowID window : topLevelWindows(d)) {
    if (!shownWindow(d, window)) continue;  // a panel that is not shown keeps no room
    auto values = cardinals(d, window, "_NET_WM_STRUT_PARTIAL", XA_CARDINAL, 12);
    if (values.size() != 12) values = cardinals(d, window, "_NET_WM_STRUT", XA_CARDINAL, 4);
    for (const Strut& strut : strutsFrom(values, root)) struts.push_back(strut);
  }
  connection->takeError();  // panels may go while they are read
  if (!live(connection)) return std::nullopt;
  return workAreaWithin(monitor->bounds, struts);
}

void X11WindowService::setFrame(uint64_t window, const Rect& frame) { place(window, frame, true); }

void X11WindowService::setPosition(uint64_t window, Point origin) { place(window, {origin.x, origin.y, 0, 0}, false); }

void X11WindowService::place(WindowID window, const Rect& frame, bool resize) {
  Connection* connection = connection_.get();
  if (!connection) return;
  ::Display* d = connection->get();
  connection->takeError();
  const bool managed = hasWindowManager(d);
  // A window manager keeps a maximised window where it is: the window first becomes an ordinary one,
  // as when the user drags it away.
  if (managed && maximised(d, window)) {
    constexpr long kRemove = 0;
    askWindowManager(d, window, "_NET_WM_STATE",
                     {kRemove, long(XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_VERT", False)),
                      long(XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_HORZ", False)), kFromPager});
    XSync(d, False);
    for (const TimePoint deadline = Clock::now() + kApplyPatience;
         live(connection) && maximised(d, window) && Clock::now() < deadline;) {
      std::this_thread::sleep_for(kApplyPoll);
    }
  }
  // The decorations may change with the request (a window that was maximised gets its borders back):
  // then it is made once more with the new ones.
  Decorations decorations = decorationsOf(d, window, borderOf(d, window));
  for (int attempt = 0; attempt < 2 && live(connection); ++attempt) {
    const auto before = frameOf(d, window);
    request(d, window, frame, resize, managed, decorations);
    if (before) awaitFrame(*connection, window, frame, resize, *before);
    const Decorations now = decorationsOf(d, window, borderOf(d, window));
    if (now.total() == decorations.total()) break;
    decorations = now;
  }
  connection->takeError();
}

bool X11WindowService::exists(uint64_t window) {
  Connection* connection = connection_.get();
  if (!connection) return true;
  connection->takeError();
  XWindowAttributes attributes{};
  XGetWindowAttributes(connection->get(), window, &attributes);
  return connection->takeError() != BadWindow;
}

}  // namespace vistaro::x11
