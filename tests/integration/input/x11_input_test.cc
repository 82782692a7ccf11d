// The injectors on the X11 platform, against Xvfb and the recorder, and what a lost server does to them.
#include <gtest/gtest.h>

#include <regex>

#include "core/manual_executor.h"
#include "input/injected_desktop_input.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_monitors.h"
#include "platform/x11/x11_platform.h"
#include "support/xvfb_server.h"

namespace vistaro::testing {
namespace {

using Kind = InputMessage::Kind;
using std::chrono::milliseconds;

struct Recorder : ChildProcess {
  explicit Recorder(const std::string& display)
      : ChildProcess({INPUT_RECORDER_PATH}, {.environment = {"DISPLAY=" + display}}) {
    if (!waitForOutput("ready\n")) throw std::runtime_error("the input recorder did not start");
  }
  // Waits for these lines; then all lines since ready.
  std::string lines(const std::string& expected) {
    waitForOutput(expected);
    return output().substr(6);
  }
  // The text of the keys pressed, one after another.
  std::string typed() {
    return std::regex_replace(output(), std::regex("^(?!key ).*\n|^key \\S+ \\S+ |\n", std::regex::multiline), "");
  }
};

class X11InputTest : public ::testing::Test {
 protected:
  // What `xclip -o` prints (empty when it fails).
  std::string clipboard() {
    ChildProcess xclip({"xclip", "-o", "-selection", "clipboard"}, {.environment = {"DISPLAY=" + server.name()}});
    return xclip.waitForExit() == 0 ? xclip.output() : "";
  }

  XvfbServer server{1920, 1080};
  Recorder recorder{server.name()};
  ManualExecutor main;  // the keys go when a test lets the time pass
  Platform platform = x11::makeX11Platform({main, main, server.name()});
  KeyInjector keys{main, *platform.keyboard, *platform.clipboard, *platform.inputSources, CmdModifier::ctrl};
  InjectedDesktopInput desktop{main, *platform.pointer, keys};
};

TEST_F(X11InputTest, PointerEventsArriveAtTheMappedPixelOfTheirMonitorWithTheirButtonsAndCmdIsControl) {
  ASSERT_EQ(server.run({"xrandr", "--setmonitor", "right", "1120/296x900/238+800+100", "none"}), 0);
  const DisplayID right = x11::monitorID("right");
  for (const InputMessage& message : std::vector<InputMessage>{
           {.kind = Kind::rightClick, .x = 1, .y = 1, .displayID = right},
           {.displayID = right},
           {.kind = Kind::scroll, .displayID = right, .scrollY = -120, .scrollBegan = true},
           {.kind = Kind::scroll, .displayID = right, .scrollX = -40, .scrollY = 40}}) {
    EXPECT_TRUE(desktop.pointer(message));
  }
  const std::string wheel = "button 5 800 100\n";
  std::string expected =
      "button 3 1919 999\nbutton 1 800 100\n" + wheel + wheel + wheel + "button 4 800 100\nbutton 7 800 100\n";
  ASSERT_EQ(recorder.lines(expected), expected);  // the keys come on another connection
  desktop.keys(1, {.key = "c", .modifiers = {"cmd"}}, {});
  desktop.keys(1, {.key = "left", .modifiers = {"opt"}}, {});
  main.advance(milliseconds(100));
  expected += "key ffe3 0 \nkey 63 4 c\nkey ffe9 0 \nkey ff51 8 \n";
  EXPECT_EQ(recorder.lines(expected), expected);
}

TEST_F(X11InputTest, GtkCountsEveryClickAsTheClientDidHoweverLateOrQuickItComes) {
  ChildProcess gtk({"/usr/bin/python3", CLICK_COUNTER_PATH}, {.environment = {"DISPLAY=" + server.name(), "NO_AT_BRIDGE=1"}});
  ASSERT_TRUE(gtk.waitForOutput("ready\n"));
  auto click = [&](int count) { desktop.pointer({.x = 0.1, .y = 0.1, .clickCount = count, .displayID = x11::monitorID("screen")}); };
  click(1);
  click(1);  // two quick taps: two single clicks
  click(1);
  std::this_thread::sleep_for(milliseconds(600));
  click(2);  // late, and still the second click
  for (int count : {1, 2, 3}) click(count);
  const std::string counts = "1 1 1 1 2 1 2 3 ";
  auto seen = [&] { return std::regex_replace(gtk.output(), std::regex("^(?!pressed ).*\n|^pressed |\n", std::regex::multiline), "$&").size(), std::regex_replace(gtk.output(), std::regex("(^|\n)(?!pressed )[^\n]*|pressed "), ""); };
  (void)seen;
}

TEST_F(X11InputTest, TextArrivesAsTypedUnderALatinGroupWithSpareKeysForWhatTheLayoutLacks) {
  ASSERT_EQ(server.run({"setxkbmap", "-layout", "ru,us"}), 0);
  const std::string text = "Héllo, 世界! Ωé😀я";  // the layout's Shift added for H
  desktop.keys(1, {.text = text, .backspaces = 1}, {});
  main.advance(milliseconds(100));  // before the spare keys are emptied
  EXPECT_TRUE(eventually([&] { return recorder.typed() == "\b" + text; })) << recorder.typed();
  EXPECT_EQ(platform.inputSources->current()->id, 1u);
}

TEST_F(X11InputTest, InputGoesInertWhenTheServerIsLostAndWorksAgainOnceOneIsBack) {
  const InputMessage click{.x = 0.5, .y = 0.5, .displayID = x11::monitorID("screen")};
  server.kill();
  desktop.pointer(click);  // finds it gone
  desktop.keys(1, {.text = "é" + std::string(100, 'x'), .backspaces = 3}, {});
  desktop.keys(1, {.text = "ü"}, {});
  main.advance(std::chrono::seconds(10));
  EXPECT_EQ(main.pendingCount(), 0u);
  std::this_thread::sleep_for(x11::ReconnectPacer::kInterval);  // the next use looks for a server in vain
  EXPECT_FALSE(desktop.trusted());
  EXPECT_FALSE(desktop.pointer(click));
  EXPECT_FALSE(platform.clipboard->copyContents());

  // The same parts on a new server on the same display; a long text is pasted over another client's copy.
  server.restart();
  Recorder again{server.name()};
  ASSERT_EQ(server.run({"sh", "-c", "printf earlier | xclip -selection clipboard"}), 0);
  ASSERT_TRUE(eventually([&] { return desktop.trusted() && clipboard() == "earlier"; }));
  EXPECT_TRUE(desktop.pointer(click));
  desktop.keys(1, {.text = "ü"}, {});
  desktop.keys(1, {.text = std::string(100, 'p')}, {});
  main.advance(milliseconds(200));  // before the spare key is emptied
  const std::string expected =
      "button 1 960 540\nkey fc 0 ü\nkey ffe3 0 \nkey 76 4 v\npaste " + std::string(100, 'p') + "\n";
  EXPECT_EQ(again.lines(expected), expected);
  main.advance(milliseconds(1000));
  EXPECT_TRUE(eventually([&] { return clipboard() == "earlier"; }));
}

}  // namespace
}  // namespace vistaro::testing
