// The injectors on the X11 platform, against Xvfb and the recorder, and what a lost server does to them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <regex>

#include "core/asio_executor.h"
#include "core/manual_executor.h"
#include "input/injected_desktop_input.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_keyboard.h"
#include "platform/x11/x11_monitors.h"
#include "platform/x11/x11_platform.h"
#include "support/xvfb_server.h"

namespace vistaro::testing {
namespace {

using Kind = InputMessage::Kind;
using ::testing::HasSubstr;

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
  ~X11InputTest() override { main.shutdown(); }  // the parts go on this thread, none of them busy
  // What `xclip -o` prints for the target (empty when it fails).
  std::string clipboard(const std::string& target = "UTF8_STRING") {
    ChildProcess xclip({"xclip", "-o", "-selection", "clipboard", "-t", target},
                       {.environment = {"DISPLAY=" + server.name()}});
    return xclip.waitForExit() == 0 ? xclip.output() : "";
  }
  void copy(const std::string& text) {
    ChildProcess xclip({"xclip", "-selection", "clipboard", "-i"}, {.environment = {"DISPLAY=" + server.name()}});
    xclip.write(text);
    xclip.closeInput();
    ASSERT_TRUE(eventually([&] { return clipboard() == text; }));
  }

  XvfbServer server{1920, 1080};
  Recorder recorder{server.name()};
  AsioExecutor main{"test.main"};
  Platform platform = x11::makeX11Platform({main, main, server.name()});
  KeyInjector keys{main, *platform.keyboard, *platform.clipboard, *platform.inputSources, CmdModifier::ctrl};
  InjectedDesktopInput desktop{main, *platform.pointer, keys};
};

TEST_F(X11InputTest, PointerEventsArriveAtTheMappedPixelOfTheirMonitorWithTheirButtons) {
  ASSERT_EQ(server.run({"xrandr", "--setmonitor", "left", "800/211x1080/286+0+0", "screen"}), 0);
  ASSERT_EQ(server.run({"xrandr", "--setmonitor", "right", "1120/296x900/238+800+100", "none"}), 0);
  const DisplayID left = x11::monitorID("left"), right = x11::monitorID("right");
  for (const InputMessage& message : std::vector<InputMessage>{
           {.kind = Kind::rightClick, .x = 1, .y = 1, .displayID = right},
           {.x = 0.5, .displayID = left},
           {.kind = Kind::scroll, .x = 0.5, .y = 0.5, .displayID = left, .scrollY = -120, .scrollBegan = true},
           {.kind = Kind::scroll, .x = 0.5, .y = 0.5, .displayID = left, .scrollX = -40, .scrollY = 40}}) {
    EXPECT_TRUE(desktop.pointer(message));
  }
  const std::string wheel = "button 5 400 540\n";
  const std::string expected =
      "button 3 1919 999\nbutton 1 400 0\n" + wheel + wheel + wheel + "button 4 400 540\nbutton 7 400 540\n";
  EXPECT_EQ(recorder.lines(expected), expected);
  EXPECT_EQ(desktop.displayPoint({.displayID = x11::monitorID("gone")}), std::nullopt);
}

TEST_F(X11InputTest, TextArrivesAsTypedUnderALatinGroupWithSpareKeysForWhatTheLayoutLacks) {
  ASSERT_EQ(server.run({"setxkbmap", "-layout", "ru,us"}), 0);
  InputSources& sources = *platform.inputSources;
  runOn(main, [&] {
    const std::optional<InputSourceState> current = sources.current();
    EXPECT_TRUE(current && current->id == 0 && current->asciiCapable == false);
    EXPECT_EQ(sources.asciiCapable(), InputSourceID{1});
    EXPECT_FALSE(sources.select(2));
  });
  const std::string text = "héllo, 世界! Ωé😀я";
  desktop.keys(1, {.text = text, .backspaces = 1}, {});
  EXPECT_TRUE(eventually([&] { return recorder.typed() == "\b" + text; })) << recorder.typed();
  EXPECT_EQ(runOn(main, [&] { return sources.current()->id; }), 1u);
}

TEST_F(X11InputTest, CmdArrivesAsControlAndTheLayoutsShiftIsAdded) {
  desktop.keys(1, {.key = "c", .modifiers = {"cmd"}}, {});
  desktop.keys(1, {.key = "C", .modifiers = {"cmd"}}, {});
  desktop.keys(1, {.key = "left", .modifiers = {"opt"}}, {});
  const std::string expected =
      "key ffe3 0 \nkey 63 4 c\nkey ffe3 0 \nkey ffe1 4 \nkey 43 5 C\nkey ffe9 0 \nkey ff51 8 \n";
  EXPECT_EQ(recorder.lines(expected), expected);
}

TEST_F(X11InputTest, LongTextIsPastedConcealedAndTheEarlierContentsComeBackUnlessReplaced) {
  std::string large;  // handed over in chunks (INCR)
  for (int i = 0; large.size() < 1500000; ++i) large += std::to_string(i) + ",";
  copy(large);
  const std::string text(100, 'p');
  desktop.keys(1, {.text = text}, {});
  ASSERT_TRUE(recorder.waitForOutput("paste " + text + "\n"));
  EXPECT_THAT(clipboard("TARGETS"), HasSubstr("org.nspasteboard.ConcealedType"));
  EXPECT_EQ(clipboard("x-kde-passwordManagerHint"), "secret");
  EXPECT_TRUE(eventually([&] { return clipboard() == large; }));
  EXPECT_THAT(clipboard("TARGETS"), ::testing::Not(HasSubstr("Concealed")));

  const size_t before = recorder.output().size();
  desktop.keys(1, {.text = text}, {});
  ASSERT_TRUE(recorder.waitForOutput("paste " + text + "\n", kPatience, before));
  copy("copied meanwhile");
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  EXPECT_EQ(clipboard(), "copied meanwhile");
}

// A call stuck in Xlib can neither be undone nor joined: the run ends rather than hang.
void expectReturns(std::future<void>& call) {
  if (call.wait_for(kPatience) == std::future_status::ready) return;
  std::fputs("a call still hangs after the X server died\n", stderr);
  std::_Exit(1);
}

TEST(X11LostServerTest, InputGoesInertWhenTheServerDiesMidUseAndWorksAgainOnceOneIsBack) {
  ManualExecutor main;
  XvfbServer server{320, 200};
  Platform platform = x11::makeX11Platform({main, main, server.name()});
  KeyInjector keys{main, *platform.keyboard, *platform.clipboard, *platform.inputSources, CmdModifier::ctrl};
  InjectedDesktopInput desktop{main, *platform.pointer, keys};
  const InputMessage click{.x = 0.5, .y = 0.5, .displayID = x11::monitorID("screen")};
  ASSERT_TRUE(desktop.trusted());
  // Each part used round after round from a thread of its own, on for a while after the loss.
  std::atomic<bool> gone = false;
  auto use = [&](std::function<void()> round) {
    return std::async(std::launch::async, [&gone, round] {
      for (int after = 0; after < 20; after += gone.load()) round();
    });
  };
  std::future<void> users[] = {
      use([&] { desktop.pointer(click); }),
      // More characters outside the layout than spare keys: rebinding round trips, not just queued requests.
      use([&, i = 0]() mutable {
        platform.keyboard->tap(0x1004e00 + i++ % (x11::X11Keyboard::kMaxSpares + 1), kControl);
      }),
      use([&] {
        platform.clipboard->copyContents();
        platform.clipboard->writeConcealedText("secret");
      })};
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  server.kill();
  gone = true;
  for (std::future<void>& user : users) expectReturns(user);
  desktop.keys(1, {.text = "é" + std::string(100, 'x'), .backspaces = 3}, {});
  desktop.keys(1, {.text = "ü"}, {});
  main.advance(std::chrono::seconds(10));
  EXPECT_EQ(main.pendingCount(), 0u);
  std::this_thread::sleep_for(x11::ReconnectPacer::kInterval);  // the next use looks for a server in vain
  EXPECT_FALSE(desktop.trusted());
  EXPECT_FALSE(desktop.pointer(click));
  EXPECT_EQ(desktop.displayPoint(click), std::nullopt);
  EXPECT_TRUE(platform.clipboard->copyContents().empty());

  // The same parts, on a new server on the same display.
  server.restart();
  Recorder recorder{server.name()};
  ASSERT_TRUE(eventually([&] { return desktop.trusted(); }));
  EXPECT_TRUE(desktop.pointer(click));
  desktop.keys(1, {.text = "ü"}, {});
  desktop.keys(1, {.text = std::string(80, 'p')}, {});
  main.advance(std::chrono::milliseconds(200));  // before the spare key is emptied
  const std::string expected =
      "button 1 160 100\nkey fc 0 ü\nkey ffe3 0 \nkey 76 4 v\npaste " + std::string(80, 'p') + "\n";
  EXPECT_EQ(recorder.lines(expected), expected);
}

}  // namespace
}  // namespace vistaro::testing
