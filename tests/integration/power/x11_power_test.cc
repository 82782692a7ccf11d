// The power-saving mechanisms on a private Xvfb, where ramps are stored and read back but show nothing.
#include <gtest/gtest.h>

#include "core/asio_executor.h"
#include "platform/x11/x11_display_brightness.h"
#include "platform/x11/x11_physical_input.h"
#include "platform/x11/x11_screen_gamma.h"
#include "support/xvfb_server.h"

#include "gamma_ramps.h"  // last: Xlib's macros clash with the names above
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vistaro {
namespace {

using testing::firstCrtcRamp;

TEST(X11PowerTest, CurtainsAndDimmingDarkenTheRampsAndPutThemBackAsTheyWere) {
  testing::XvfbServer xvfb(800, 600);
  const x11::GammaRamp before = testing::setDimmedRamp(xvfb.name());

  x11::X11ScreenGamma gamma(xvfb.name());
  x11::X11DisplayBrightness brightness(gamma, std::nullopt);  // Xvfb has no backlight
  const std::vector<DisplayID> displays = brightness.onlineDisplays();
  ASSERT_EQ(displays.size(), 1u);
  EXPECT_NEAR(brightness.brightness(displays[0]).value_or(0), 0.8, 0.001);
  brightness.setBrightness(displays[0], 0);
  gamma.show();
  EXPECT_TRUE(x11::isDark(firstCrtcRamp(xvfb.name())));
  EXPECT_TRUE(gamma.coverScreens());
  firstCrtcRamp(xvfb.name(), before);  // a night-light tool setting its colours again
  EXPECT_FALSE(gamma.coverScreens());
  gamma.show();
  gamma.hide();
  brightness.setBrightness(displays[0], 0.8f);
  EXPECT_EQ(firstCrtcRamp(xvfb.name()), before);

  // What a host that died under its curtains leaves behind is uncovered by the next one.
  firstCrtcRamp(xvfb.name(), x11::scaledRamp(before, 0));
  x11::X11ScreenGamma(xvfb.name()).clearLeftovers();
  EXPECT_EQ(firstCrtcRamp(xvfb.name()), x11::identityRamp(before.red.size()));
}

// No device here is physical but Xvfb's inert ones, so only the filter's other half can be seen:
// input injected through XTest, as the host injects it, is not someone at the computer.
TEST(X11PowerTest, InputInjectedThroughXTestIsNobodyAtTheComputer) {
  testing::XvfbServer xvfb(800, 600);
  AsioExecutor main("power-test");
  x11::X11PhysicalInput tap(main, xvfb.name());
  std::atomic<int> touches = 0;
  ASSERT_TRUE(testing::runOn(main, [&] { return tap.install([&] { ++touches; }); }));

  ::Display* display = XOpenDisplay(xvfb.name().c_str());
  const std::set<int> injecting = x11::injectingDevices(display);
  EXPECT_EQ(injecting, (std::set<int>{4, 5})) << "the XTEST pointer and keyboard, not Xvfb's own devices";
  for (int i = 0; i < 20; ++i) {
    XTestFakeMotionEvent(display, 0, 100 + i * 10, 100, 0);
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_a), i % 2 == 0, 0);
    XTestFakeButtonEvent(display, 1, i % 2 == 0, 0);
  }
  XSync(display, False);
  XCloseDisplay(display);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(touches.load(), 0);
  testing::runOn(main, [&] { tap.remove(); });
}

}  // namespace
}  // namespace vistaro
