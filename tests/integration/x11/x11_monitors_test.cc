#include "platform/x11/x11_monitors.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/xvfb_server.h"

// After gtest: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>

namespace vistaro::x11 {
namespace {

using testing::XvfbServer;

struct DisplayCloser {
  void operator()(::Display* d) const { XCloseDisplay(d); }
};
using DisplayHandle = std::unique_ptr<::Display, DisplayCloser>;

class MonitorsTest : public ::testing::Test {
 protected:
  XvfbServer server{1920, 1080};
  DisplayHandle open() { return DisplayHandle(XOpenDisplay(server.name().c_str())); }
};

TEST(MonitorID, IsFnv1aOfTheNameSoItSurvivesRestarts) {
  EXPECT_EQ(monitorID(""), 0x811c9dc5u);
  EXPECT_EQ(monitorID("a"), 0xe40c292cu);
  EXPECT_EQ(monitorID("foobar"), 0xbf9cf968u);
}

TEST_F(MonitorsTest, PlainScreenIsOneMonitorCoveringTheRoot) {
  auto display = open();
  ASSERT_TRUE(display);
  auto monitors = listMonitors(display.get());
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].name, "screen");
  EXPECT_EQ(monitors[0].id, monitorID("screen"));
  EXPECT_EQ(monitors[0].bounds, (Rect{0, 0, 1920, 1080}));
}

TEST_F(MonitorsTest, SplitScreenListsEachRegionWithItsPrimaryFlag) {
  ASSERT_EQ(server.run({"xrandr", "--setmonitor", "left", "800/211x1080/286+0+0", "screen"}), 0);
  ASSERT_EQ(server.run({"xrandr", "--setmonitor", "*right", "1120/296x900/238+800+100", "none"}), 0);
  auto display = open();
  ASSERT_TRUE(display);
  auto monitors = listMonitors(display.get());
  ASSERT_EQ(monitors.size(), 2u);
  const Monitor* left = monitors[0].name == "left" ? &monitors[0] : &monitors[1];
  const Monitor* right = left == &monitors[0] ? &monitors[1] : &monitors[0];
  EXPECT_EQ(left->name, "left");
  EXPECT_EQ(left->bounds, (Rect{0, 0, 800, 1080}));
  EXPECT_FALSE(left->primary);
  EXPECT_EQ(right->name, "right");
  EXPECT_EQ(right->bounds, (Rect{800, 100, 1120, 900}));
  EXPECT_TRUE(right->primary);
  EXPECT_EQ(left->id, monitorID("left"));
  EXPECT_EQ(right->id, monitorID("right"));

  // A second connection (a restarted host) sees the same IDs.
  auto again = open();
  auto relisted = listMonitors(again.get());
  ASSERT_EQ(relisted.size(), 2u);
  EXPECT_EQ(relisted[0].id, monitors[0].id);
  EXPECT_EQ(relisted[1].id, monitors[1].id);
}

}  // namespace
}  // namespace vistaro::x11
