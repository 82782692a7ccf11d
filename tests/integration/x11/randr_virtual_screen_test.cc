// Fit mode's screen switch on real servers: Xvfb (one output, no transforms, cannot grow past its
// start size) and, where installed and run as root, Xorg's dummy driver with two outputs to mirror.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "core/manual_executor.h"
#include "platform/x11/randr_layout.h"
#include "platform/x11/randr_virtual_screen.h"
#include "platform/x11/x11_monitors.h"
#include "support/temp_dir.h"
#include "support/xorg_dummy_server.h"
#include "support/xvfb_server.h"

#include <X11/Xlib.h>  // last: its macros clash with the names above
#include <X11/extensions/Xrandr.h>

namespace vistaro {
namespace {

using Outcome = std::pair<std::optional<DisplayID>, std::string>;

// A fresh connection each time: Xlib keeps the screen size it had when it connected.
template <typename Read>
auto onDisplay(const std::string& name, Read read) {
  ::Display* display = XOpenDisplay(name.c_str());
  auto result = read(display);
  XCloseDisplay(display);
  return result;
}
x11::ScreenLayout layoutOf(const std::string& name) { return *onDisplay(name, x11::readLayout); }
std::vector<x11::Monitor> monitorsOf(const std::string& name) { return onDisplay(name, x11::listMonitors); }
std::pair<int, int> pointerOf(::Display* display) {
  Window root, child;
  int x = 0, y = 0, childX, childY;
  unsigned int mask;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &childX, &childY, &mask);
  return {x, y};
}
int ourModes(::Display* display) {
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
  int count = 0;
  for (int i = 0; i < resources->nmode; ++i) count += std::string(resources->modes[i].name).starts_with("VISTARO");
  XRRFreeScreenResources(resources);
  return count;
}

struct FitScreen {
  FitScreen(const std::string& display, const std::filesystem::path& file) : screen(main, display, file) {}
  Outcome show(int64_t width, int64_t height, uint32_t serial) {
    std::optional<Outcome> outcome;
    screen.show(width, height, serial, [&](auto id, auto error) { outcome = Outcome(id, error); });
    main.runUntilIdle();
    return outcome.value();
  }
  ManualExecutor main;
  x11::RandrVirtualScreen screen;
};

void expectFitted(const std::string& display, const Outcome& outcome, uint32_t width, uint32_t height,
                  const std::string& name) {
  EXPECT_EQ(outcome, Outcome(x11::monitorID(name), ""));
  const std::vector<x11::Monitor> monitors = monitorsOf(display);
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].name, name);
  EXPECT_EQ(monitors[0].bounds, (Rect{0, 0, double(width), double(height)}));
  const x11::ScreenLayout layout = layoutOf(display);
  EXPECT_EQ(std::pair(layout.width, layout.height), std::pair(int32_t(width), int32_t(height)));
  for (const x11::CrtcLayout& crtc : layout.crtcs) {
    if (!crtc.mode) continue;
    EXPECT_EQ(std::tuple(crtc.x, crtc.y, crtc.mode->name, crtc.mode->width, crtc.mode->height),
              std::tuple(0, 0, name, width, height));
  }
}

// Two sizes one after the other, then back: to the byte what was there, and no mode of ours left.
void switchTwiceAndRestore(const std::string& display, const std::filesystem::path& file, size_t litCrtcs) {
  const x11::ScreenLayout before = layoutOf(display);
  ASSERT_EQ(std::count_if(before.crtcs.begin(), before.crtcs.end(), [](auto& c) { return c.mode.has_value(); }),
            litCrtcs);
  FitScreen fit(display, file);
  expectFitted(display, fit.show(800, 1730, 1), 800, 1730, "VISTARO-FIT-1");
  struct stat saved {};
  ASSERT_EQ(stat(file.c_str(), &saved), 0);
  EXPECT_EQ(saved.st_mode & 0777, 0600u);
  expectFitted(display, fit.show(1200, 900, 2), 1200, 900, "VISTARO-FIT-2");
  fit.screen.restore();
  EXPECT_EQ(layoutOf(display), before);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(onDisplay(display, ourModes), 0);
}

void expectRefusedUnchanged(const std::string& display, const std::filesystem::path& file,
                            std::initializer_list<std::pair<int64_t, int64_t>> sizes) {
  const x11::ScreenLayout before = layoutOf(display);
  FitScreen fit(display, file);
  for (auto [width, height] : sizes) {
    const Outcome outcome = fit.show(width, height, 9);
    EXPECT_FALSE(outcome.first) << width << "x" << height;
    EXPECT_NE(outcome.second, "");
    EXPECT_EQ(layoutOf(display), before) << outcome.second;
    EXPECT_FALSE(std::filesystem::exists(file));
  }
}

TEST(RandrVirtualScreenTest, XvfbShowsOneDisplayOfEachSizeAndPutsItAllBack) {
  testing::XvfbServer xvfb(2400, 2400);
  testing::TempDir dir;
  ASSERT_EQ(xvfb.run({"xrandr", "--setmonitor", "LEFT-HALF", "1200/300x2400/600+0+0", "none"}), 0);
  switchTwiceAndRestore(xvfb.name(), dir / "fit.json", 1);
  expectRefusedUnchanged(xvfb.name(), dir / "fit.json", {{2401, 800}, {800, 2401}, {0, 600}, {800, -3}});

  // Without a primary monitor, absent means the first one: the user's left half.
  FitScreen fit(xvfb.name(), dir / "fit.json");
  for (auto [display, x, y] : {std::tuple(std::optional<DisplayID>(), 600, 1200),
                               std::tuple(std::optional(x11::monitorID("screen")), 1200, 1200)}) {
    fit.screen.centreCursor(display);
    EXPECT_EQ(onDisplay(xvfb.name(), pointerOf), std::pair(x, y));
  }
}

TEST(RandrVirtualScreenTest, XvfbALeftoverOfAKilledHostIsPutBackOnItsServerOnly) {
  testing::XvfbServer xvfb(2400, 2400);
  testing::TempDir dir;
  const std::filesystem::path file = dir / "fit.json";
  const x11::ScreenLayout before = layoutOf(xvfb.name());
  const pid_t host = fork();
  if (host == 0) {
    FitScreen(xvfb.name(), file).show(800, 1730, 7);
    kill(getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(host, &status, 0), host);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(std::filesystem::exists(file));
  ASSERT_EQ(monitorsOf(xvfb.name()).at(0).name, "VISTARO-FIT-7");
  std::stringstream left;
  left << std::ifstream(file).rdbuf();

  FitScreen(xvfb.name(), file).screen.restoreLeftovers();
  EXPECT_EQ(layoutOf(xvfb.name()), before);
  EXPECT_FALSE(std::filesystem::exists(file));

  // A damaged file, then one from the server before a restart (which would take the new monitor away):
  // dropped, nothing touched.
  xvfb.restart();
  ASSERT_EQ(xvfb.run({"xrandr", "--setmonitor", "NEW", "800/200x600/150+0+0", "none"}), 0);
  const x11::ScreenLayout fresh = layoutOf(xvfb.name());
  for (const std::string& contents : {left.str().substr(0, left.str().size() / 2), left.str()}) {
    std::ofstream(file) << contents;
    FitScreen(xvfb.name(), file).screen.restoreLeftovers();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(layoutOf(xvfb.name()), fresh);
  }
}

TEST(RandrVirtualScreenTest, XorgDummyMirrorsTwoOutputsAndPutsThemBackAfterAFailureToo) {
  if (!testing::XorgDummyServer::available()) GTEST_SKIP() << "needs root and xserver-xorg-video-dummy";
  auto xorg = testing::XorgDummyServer::start();
  ASSERT_TRUE(xorg);
  testing::TempDir dir;
  ASSERT_EQ(xorg->run({"xrandr", "--addmode", "DUMMY1", "800x600"}), 0);
  ASSERT_EQ(xorg->run({"xrandr", "--output", "DUMMY1", "--mode", "800x600", "--right-of", "DUMMY0"}), 0);
  ASSERT_EQ(xorg->run({"xrandr", "--setmonitor", "WIDE", "1824/480x768/200+0+0", "DUMMY0,DUMMY1"}), 0);
  switchTwiceAndRestore(xorg->name(), dir / "fit.json", 2);
  // Within the screen's size range, beyond its video memory: refused part way, and put back.
  expectRefusedUnchanged(xorg->name(), dir / "fit.json", {{16000, 16000}});
}

}  // namespace
}  // namespace vistaro
