// vistaro-host under Xvfb with openbox and two xterms, switched to a phone's proportions by the
// reference client, switched back, and killed while fitted.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "control/settings_store.h"
#include "core/geometry.h"
#include "support/child_process.h"
#include "support/host_process.h"
#include "support/loopback_client.h"
#include "support/xvfb_server.h"

#include <X11/Xlib.h>  // last: Xlib's macros clash with the names above

namespace vistaro {
namespace {

using namespace std::chrono_literals;

constexpr char kPin[] = "730415";

class FitModeHostTest : public ::testing::Test {
 protected:
  FitModeHostTest() {
    // Started large (a server never grows) and shown smaller, as the demo desktop is.
    EXPECT_EQ(xvfb.run({"xrandr", "--newmode", "desk", "0", "1280", "0", "0", "0", "800", "0", "0", "0"}), 0);
    EXPECT_EQ(xvfb.run({"xrandr", "--addmode", "screen", "desk"}), 0);
    EXPECT_EQ(xvfb.run({"xrandr", "--output", "screen", "--mode", "desk"}), 0);
    programs.push_back(start({"openbox"}));
    EXPECT_TRUE(testing::eventually(
        [&] { return xvfb.run({"sh", "-c", "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window"}) == 0; }));
    for (auto [title, geometry] : {std::pair{"left", "100x30+40+40"}, std::pair{"right", "60x20+700+500"}}) {
      programs.push_back(start({"xterm", "-T", title, "-geometry", geometry}));
      // Managed: framed by openbox, and so where it stays. Openbox, busy starting, may miss the first
      // map request: it is asked again.
      EXPECT_TRUE(testing::eventually([&] {
        xvfb.run({"xdotool", "search", "--name", title, "windowmap"});
        return xvfb.run({"sh", "-c", std::string("xprop -name ") + title + " _NET_FRAME_EXTENTS | grep -q ="}) == 0;
      }));
    }
  }
  std::unique_ptr<testing::ChildProcess> start(const std::vector<std::string>& argv) {
    return std::make_unique<testing::ChildProcess>(
        argv, testing::ChildProcess::Options{.environment = {"DISPLAY=" + xvfb.name()}, .log = "/dev/null"});
  }
  // The framebuffer's size as a client connecting now sees it.
  std::pair<int, int> screenSize() {
    ::Display* display = XOpenDisplay(xvfb.name().c_str());
    const std::pair size{DisplayWidth(display, 0), DisplayHeight(display, 0)};
    XCloseDisplay(display);
    return size;
  }
  // The window's inside, in root coordinates, as xwininfo reports it.
  Rect frameOf(const std::string& title) {
    testing::ChildProcess info({"xwininfo", "-name", title}, {.environment = {"DISPLAY=" + xvfb.name()}});
    info.waitForExit();
    auto field = [&](const char* name) {
      std::smatch match;
      const std::string& text = info.output();
      return std::regex_search(text, match, std::regex(std::string(name) + ":\\s+(-?[0-9]+)")) ? std::stod(match[1]) : 0.0;
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")};
  }
  // Fit mode on through a phone that then stays connected.
  std::unique_ptr<testing::LoopbackClient> fittingPhone(testing::HostProcess& host) {
    auto phone = std::make_unique<testing::LoopbackClient>(testing::LoopbackClient::Options{
        .client = {.port = host.port(), .pin = kPin, .name = "phone"}});
    EXPECT_TRUE(phone->welcomes.take());
    phone->act([](client::ClientConnection& c) {
      c.clientDisplay({1170, 2532, "normal", false});
      c.setFit(true);
    });
    EXPECT_TRUE(phone->welcomes.takeUntil([](const WelcomeMessage& w) { return w.fit == true; }));
    return phone;
  }
  bool inside(const Rect& frame, int width, int height) {
    return frame.x >= 0 && frame.y >= 0 && frame.maxX() <= width && frame.maxY() <= height;
  }

  testing::XvfbServer xvfb{2400, 2400};
  std::vector<std::unique_ptr<testing::ChildProcess>> programs;
};

TEST_F(FitModeHostTest, APhoneFitsTheDesktopAndEverythingComesBackEvenAfterACrash) {
  const Rect left = frameOf("left"), right = frameOf("right");
  testing::HostProcess host(xvfb.name(), kPin);
  testing::LoopbackClient phone({.client = {.port = host.port(), .pin = kPin, .name = "phone"},
                                 .pull = RequestMessage{std::nullopt, 0, 0, 400, std::nullopt}});
  const std::optional<WelcomeMessage> first = phone.welcomes.take();
  ASSERT_TRUE(first);
  auto fit = [&](bool on) {
    phone.act([on](client::ClientConnection& c) {
      if (on) c.clientDisplay({1170, 2532, "normal", false});
      c.setFit(on);
    });
    return phone.welcomes.takeUntil([&](const WelcomeMessage& w) {
      return w.fit == on && w.displays.size() == 1 && (on ? w.current != first->current : w.current == first->current);
    });
  };

  const std::optional<WelcomeMessage> fitted = fit(true);
  ASSERT_TRUE(fitted);
  EXPECT_EQ(std::pair(fitted->displays[0].width, fitted->displays[0].height), std::pair(int64_t{800}, int64_t{1730}));
  EXPECT_EQ(screenSize(), std::pair(800, 1730));
  // The phone's picture has the new display's proportions.
  EXPECT_TRUE(phone.frames.takeUntil([](const Bytes& body) {
    const auto base = testing::watched(body).base;
    return base && std::abs(double(base->height) / base->width - 1730.0 / 800) < 0.02;
  }));
  EXPECT_TRUE(testing::eventually([&] { return inside(frameOf("left"), 800, 1730) && inside(frameOf("right"), 800, 1730); }, 5s));

  ASSERT_TRUE(fit(false));
  EXPECT_EQ(screenSize(), std::pair(1280, 800));
  EXPECT_TRUE(testing::eventually([&] { return frameOf("left") == left && frameOf("right") == right; }, 5s))
      << frameOf("left") << " " << frameOf("right");

  // Killed while fitted: the watchdog's new host puts the screen back at once and the windows soon after.
  ASSERT_TRUE(fit(true));
  EXPECT_TRUE(testing::eventually([&] { return !inside(right, 800, 1730) && inside(frameOf("right"), 800, 1730); }, 5s));
  kill(host.pid(), SIGKILL);
  EXPECT_TRUE(testing::eventually([&] { return screenSize() == std::pair(1280, 800); }, 10s));
  EXPECT_TRUE(testing::eventually([&] { return frameOf("left") == left && frameOf("right") == right; }, 10s))
      << frameOf("left") << " " << frameOf("right");
  EXPECT_TRUE(testing::eventually([&] { return !SettingsStore(host.settingsFile()).windowFramesBeforeFit(); }));
  testing::ChildProcess::run({"pkill", "-TERM", "-f", "--display " + xvfb.name() + " --restore-displays"});
}

// Ended by a signal while fitted: the screen, then (after the window manager settled) the windows, then exit 0.
TEST_F(FitModeHostTest, ASignalWhileFittedPutsEverythingBackBeforeTheHostEnds) {
  const Rect right = frameOf("right");
  testing::HostProcess host(xvfb.name(), kPin);
  const auto phone = fittingPhone(host);
  ASSERT_TRUE(testing::eventually([&] { return inside(frameOf("right"), 800, 1730) && !(frameOf("right") == right); }, 5s));
  EXPECT_EQ(host.terminate(5s), 0);
  EXPECT_EQ(screenSize(), std::pair(1280, 800));
  EXPECT_EQ(frameOf("right"), right);
  EXPECT_FALSE(SettingsStore(host.settingsFile()).windowFramesBeforeFit());
}

}  // namespace
}  // namespace vistaro
