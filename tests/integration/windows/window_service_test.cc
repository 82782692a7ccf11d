// The window fitter's view of an X11 desktop: openbox (or no window manager at all) on a private
// Xvfb split into two monitors, with xterms and windows this test makes itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "core/asio_executor.h"
#include "platform/x11/x11_monitors.h"
#include "platform/x11/x11_window_service.h"
#include "support/child_process.h"
#include "support/threads.h"
#include "support/xvfb_server.h"

// Last: Xlib's macros clash with the names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vistaro {
namespace {

using testing::ChildProcess;
using testing::eventually;

// Two 800 × 600 monitors side by side: "left" and "right".
class WindowServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(xvfb_.run({"xrandr", "--setmonitor", "left", "800/200x600/150+0+0", "none"}), 0);
    ASSERT_EQ(xvfb_.run({"xrandr", "--setmonitor", "right", "800/200x600/150+800+0", "none"}), 0);
    display_ = XOpenDisplay(xvfb_.name().c_str());
    service_ = std::make_unique<x11::X11WindowService>(main_, xvfb_.name());
  }
  void TearDown() override {
    testing::runOn(main_, [&] { service_.reset(); });  // where the host lets it go
    programs_.clear();
    XCloseDisplay(display_);
  }

  void startWindowManager() {
    programs_.push_back(start({"openbox"}));
    managing_ = true;
    ASSERT_TRUE(eventually([&] {
      return xvfb_.run({"sh", "-c", "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window"}) == 0;
    }));
  }
  std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv) {
    return std::make_unique<ChildProcess>(argv, ChildProcess::Options{.environment = {"DISPLAY=" + xvfb_.name()}, .log = "/dev/null"});
  }
  // Shown once the window manager lists it: openbox, busy starting, may leave its first map request
  // unanswered, so it is asked again.
  void xterm(const std::string& title, const std::string& geometry) {
    programs_.push_back(start({"xterm", "-T", title, "-geometry", geometry}));
    ASSERT_TRUE(eventually([&] {
      xvfb_.run({"xdotool", "search", "--name", title, "windowmap"});
      return listed(title).id != 0;
    }));
  }

  // A window of this test's own, with a class, an optional minimum size and optional hints.
  Window window(const std::string& name, Rect at, std::optional<std::pair<int, int>> minimum = {},
                const std::vector<std::pair<const char*, std::vector<long>>>& properties = {}) {
    const Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), int(at.x), int(at.y),
                                         unsigned(at.width), unsigned(at.height), 0, 0, 0);
    XStoreName(display_, w, name.c_str());
    XClassHint hint{const_cast<char*>(name.c_str()), const_cast<char*>("Probe")};
    XSetClassHint(display_, w, &hint);
    XSizeHints* size = XAllocSizeHints();
    size->flags = USPosition | (minimum ? PMinSize : 0);
    if (minimum) size->min_width = minimum->first, size->min_height = minimum->second;
    XSetWMNormalHints(display_, w, size);
    XFree(size);
    for (const auto& [property, values] : properties) {
      const bool atoms = std::string(property) == "_NET_WM_WINDOW_TYPE";
      XChangeProperty(display_, w, XInternAtom(display_, property, False), atoms ? XA_ATOM : XA_CARDINAL, 32,
                      PropModeReplace, reinterpret_cast<const unsigned char*>(values.data()), int(values.size()));
    }
    XMapWindow(display_, w);
    XSync(display_, False);
    // A window manager ignores requests about a window until it manages it (and gives it a WM_STATE).
    const std::string managed = "xprop -id " + std::to_string(w) + " WM_STATE | grep -q 'window state'";
    EXPECT_TRUE(!managing_ || eventually([&] { return xvfb_.run({"sh", "-c", managed}) == 0; })) << name;
    return w;
  }
  long atom(const char* name) { return long(XInternAtom(display_, name, False)); }
  // What an EWMH pager asks of the window manager.
  void ask(Window w, const char* message, std::vector<long> data) {
    XEvent event{};
    event.xclient = {ClientMessage, 0, True, display_, w, XInternAtom(display_, message, False), 32, {}};
    std::copy(data.begin(), data.end(), event.xclient.data.l);
    XSendEvent(display_, DefaultRootWindow(display_), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display_, False);
  }
  std::vector<std::string> titles() {
    std::vector<std::string> result;
    for (const DesktopWindow& w : service_->windows()) result.push_back(w.title);
    return result;
  }
  DesktopWindow listed(const std::string& title) {
    const auto all = service_->windows();
    const auto found = std::find_if(all.begin(), all.end(), [&](const DesktopWindow& w) { return w.title == title; });
    return found == all.end() ? DesktopWindow{} : *found;
  }

  testing::XvfbServer xvfb_{1600, 600};
  AsioExecutor main_{"windows-test"};
  ::Display* display_ = nullptr;
  bool managing_ = false;
  std::unique_ptr<x11::X11WindowService> service_;
  std::vector<std::unique_ptr<ChildProcess>> programs_;
};

TEST_F(WindowServiceTest, ListsTheWindowsTheUserArrangesAndMovesThemThroughTheWindowManager) {
  startWindowManager();
  xterm("alpha", "60x20+20+30");
  xterm("beta", "60x20+300+200");
  const Window firm = window("firm", {100, 100, 600, 450}, std::pair(500, 400));
  window("ours", {0, 0, 200, 100}, {}, {{"_NET_WM_PID", {long(getpid())}}});
  window("dialog", {0, 0, 200, 100}, {}, {{"_NET_WM_WINDOW_TYPE", {atom("_NET_WM_WINDOW_TYPE_DIALOG")}}});
  XIconifyWindow(display_, window("minimised", {0, 0, 200, 100}), 0);
  const Window elsewhere = window("elsewhere", {0, 0, 200, 100});
  ask(elsewhere, "_NET_WM_DESKTOP", {1, 2});
  ask(window("full", {0, 0, 200, 100}), "_NET_WM_STATE", {1, atom("_NET_WM_STATE_FULLSCREEN"), 0, 2});
  ASSERT_TRUE(eventually([&] { return titles() == std::vector<std::string>{"alpha", "beta", "firm"}; }))
      << ::testing::PrintToString(titles());

  for (const DesktopWindow& w : service_->windows()) EXPECT_EQ(w.application, w.title == "firm" ? "Probe" : "XTerm");
  const DesktopWindow alpha = listed("alpha"), beta = listed("beta");
  // Where -geometry put it: the corner of the window manager's frame, the terminal itself below its title bar.
  EXPECT_EQ(std::pair(alpha.frame.x, alpha.frame.y), std::pair(20.0, 30.0));

  // Each request has been carried out when it returns; xterm sizes in whole character cells.
  service_->setFrame(alpha.id, {810, 40, 500, 300});
  const Rect moved = service_->frame(alpha.id).value_or(Rect{});
  EXPECT_EQ(std::pair(moved.x, moved.y), std::pair(810.0, 40.0));
  EXPECT_TRUE(moved.width <= 500 && moved.width > 480 && moved.height <= 300 && moved.height > 270) << moved;
  service_->setPosition(beta.id, {700, 250});
  EXPECT_EQ(service_->frame(beta.id), (Rect{700, 250, beta.frame.width, beta.frame.height}));
  ask(firm, "_NET_WM_STATE", {1, atom("_NET_WM_STATE_MAXIMIZED_VERT"), atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 2});
  ASSERT_TRUE(eventually([&] { return service_->frame(firm) == Rect{0, 0, 800, 600}; }));  // its monitor
  service_->setFrame(firm, {50, 60, 700, 500});  // no longer maximised, with the borders it then has
  EXPECT_EQ(service_->frame(firm), (Rect{50, 60, 700, 500}));
  service_->setFrame(firm, {0, 0, 300, 200});
  const Rect kept = service_->frame(firm).value_or(Rect{});
  EXPECT_TRUE(kept.x == 0 && kept.y == 0 && kept.width > 500 && kept.height > 400) << "no smaller than its minimum: " << kept;

  ask(beta.id, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0});
  EXPECT_TRUE(eventually([&] { return service_->activeWindow() == beta.id; }));

  // Gone: at once, while the window manager may still list it.
  XDestroyWindow(display_, firm);
  XSync(display_, False);
  const auto remaining = titles();
  EXPECT_EQ(std::count(remaining.begin(), remaining.end(), "firm"), 0);
  EXPECT_FALSE(service_->exists(firm));
  EXPECT_TRUE(service_->exists(alpha.id));

  testing::Mailbox<int> switches;
  service_->observeDesktopSwitches([&] { switches.put(main_.isCurrent()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // watching
  ask(DefaultRootWindow(display_), "_NET_CURRENT_DESKTOP", {1, CurrentTime});
  EXPECT_EQ(switches.take(), 1) << "on the main executor";
  EXPECT_EQ(titles(), std::vector<std::string>{"elsewhere"});
  ask(DefaultRootWindow(display_), "_NET_CURRENT_DESKTOP", {1, CurrentTime});
  EXPECT_EQ(switches.take(std::chrono::milliseconds(300)), std::nullopt) << "no switch: the same desktop";
}

TEST_F(WindowServiceTest, APanelTakesItsStripFromItsOwnMonitorOnly) {
  startWindowManager();
  const DisplayID left = x11::monitorID("left"), right = x11::monitorID("right");
  // Along the top of the right monitor (top 30, from x 800 to 1599), and down its left edge, which
  // struts can only name as the root's left edge reaching 850 pixels in.
  const long dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
  window("top", {800, 0, 800, 30}, {},
         {{"_NET_WM_WINDOW_TYPE", {dock}}, {"_NET_WM_STRUT_PARTIAL", {0, 0, 30, 0, 0, 0, 0, 0, 800, 1599, 0, 0}}});
  window("side", {800, 30, 50, 570}, {},
         {{"_NET_WM_WINDOW_TYPE", {dock}}, {"_NET_WM_STRUT_PARTIAL", {850, 0, 0, 0, 30, 599, 0, 0, 0, 0, 0, 0}}});
  EXPECT_TRUE(eventually([&] { return service_->workArea(right) == Rect{850, 30, 750, 570}; }))
      << service_->workArea(right).value_or(Rect{});
  EXPECT_EQ(service_->workArea(left), (Rect{0, 0, 800, 600}));
  EXPECT_EQ(service_->workArea(12345), std::nullopt);
}

TEST_F(WindowServiceTest, WithoutAWindowManagerWindowsAreMovedDirectly) {
  const Window plain = window("plain", {10, 20, 300, 200});
  ASSERT_EQ(titles(), std::vector<std::string>{"plain"});
  service_->setFrame(plain, {900, 100, 400, 250});
  EXPECT_EQ(service_->frame(plain), (Rect{900, 100, 400, 250}));
  service_->setPosition(plain, {0, 0});
  EXPECT_EQ(service_->frame(plain), (Rect{0, 0, 400, 250}));
}

}  // namespace
}  // namespace vistaro
