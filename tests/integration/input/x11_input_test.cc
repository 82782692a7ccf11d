// The injectors on the X11 platform, against Xvfb, the recorder, xterm, xclip and IBus, and what a lost server does to them.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <signal.h>

#include <fstream>
#include <random>
#include <regex>

#include "core/asio_executor.h"
#include "core/manual_executor.h"
#include "input/injected_desktop_input.h"
#include "input/input_method_aware_sources.h"
#include "platform/linux/dbus_input_method.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_input_sources.h"
#include "platform/x11/x11_monitors.h"
#include "platform/x11/x11_platform.h"
#include "support/temp_dir.h"
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
  std::string clipboard(const std::string& target = "UTF8_STRING") {
    ChildProcess xclip({"xclip", "-o", "-selection", "clipboard", "-t", target}, env());
    return xclip.waitForExit() == 0 ? xclip.output() : "";
  }
  ChildProcess::Options env() { return {.environment = {"DISPLAY=" + server.name()}}; }
  // Locks (or unlocks) the modifiers in the mask; the locked ones then.
  unsigned lockModifiers(unsigned mask = 0, unsigned locked = 0) {
    ::Display* d = XOpenDisplay(server.name().c_str());
    XkbLockModifiers(d, XkbUseCoreKbd, mask, locked);
    XkbStateRec state{};
    XkbGetState(d, XkbUseCoreKbd, &state);
    XCloseDisplay(d);
    return state.locked_mods;
  }

  XvfbServer server{1920, 1080};
  Recorder recorder{server.name()};
  ManualExecutor main;  // the keys go when a test lets the time pass
  Platform platform = x11::makeX11Platform({main, main, server.name()});
  KeyInjector keys{main,
                   *platform.keyboard,
                   *platform.clipboard,
                   *platform.inputSources,
                   CmdModifier::ctrl,
                   {platform.primarySelection.get(), platform.focusedWindow.get()}};
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
  const std::string wheel = "button 5 800 100 0\n";
  std::string expected = "button 3 1919 999 0\nbutton 1 800 100 0\n" + wheel + wheel + wheel +
                         "button 4 800 100 0\nbutton 7 800 100 0\n";
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
  auto counts = [&] {
    std::string seen, output = gtk.output();
    static const std::regex pressed("pressed (\\d+)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), pressed); it != std::sregex_iterator(); ++it) {
      seen += (*it)[1].str() + " ";
    }
    return seen;
  };
  EXPECT_TRUE(eventually([&] { return counts() == "1 1 1 2 1 2 3 "; })) << counts();
}

TEST_F(X11InputTest, TextArrivesAsTypedUnderALatinGroupWithSpareKeysForWhatTheLayoutLacks) {
  ASSERT_EQ(server.run({"setxkbmap", "-layout", "ru,us"}), 0);
  const std::string text = "Héllo, 世界! Ωé😀я";  // the layout's Shift added for H
  desktop.keys(1, {.text = text, .backspaces = 1}, {});
  main.advance(milliseconds(100));  // before the spare keys are emptied
  EXPECT_TRUE(eventually([&] { return recorder.typed() == "\b" + text; })) << recorder.typed();
  EXPECT_EQ(platform.inputSources->current()->id, 1u);
}

TEST_F(X11InputTest, CapsAndNumLockChangeNeitherTypedTextNorClicksAndStayLocked) {
  const unsigned locks = LockMask | Mod2Mask;
  ASSERT_EQ(lockModifiers(locks, locks), locks);
  desktop.keys(1, {.text = "Hello"}, {});
  desktop.pointer({.x = 0.5, .y = 0.5, .displayID = x11::monitorID("screen")});
  main.advance(milliseconds(100));
  EXPECT_TRUE(eventually([&] { return recorder.typed() == "Hello"; })) << recorder.output();
  EXPECT_TRUE(recorder.waitForOutput("button 1 960 540 0\n"));
  EXPECT_EQ(lockModifiers(), locks);
}

TEST_F(X11InputTest, LongTextReachesATerminalAndTheClipboardComesBack) {
  recorder.kill();  // the focus falls back to the root: keys go to the window under the pointer
  TempDir dir;
  const std::string typed = (dir / "typed").string();
  ASSERT_EQ(server.run({"sh", "-c", "printf earlier | xclip -selection clipboard"}), 0);
  ChildProcess xterm({"xterm", "-geometry", "100x5+0+0", "-e", "sh", "-c",
                      "stty -icanon -echo; head -c 80 > \"$0.part\" && mv \"$0.part\" \"$0\"", typed},
                     env());
  desktop.pointer({.kind = Kind::scroll, .x = 0.05, .y = 0.05, .displayID = x11::monitorID("screen"), .scrollBegan = true});
  ASSERT_TRUE(eventually([&] { return platform.focusedWindow->classNames() == std::vector<std::string>{"xterm", "XTerm"}; }));
  std::string text;
  for (int i = 0; i < 8; ++i) text += "echo 'x' ";
  text += "$HOME!!!";
  ASSERT_EQ(text.size(), 80u);
  desktop.keys(1, {.text = text}, {});
  main.advance(milliseconds(200));
  auto arrived = [&] {
    std::ifstream file(typed);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  EXPECT_TRUE(eventually([&] { return arrived() == text; })) << arrived();
  main.advance(milliseconds(1000));
  EXPECT_TRUE(eventually([&] { return clipboard() == "earlier"; }));
}

TEST_F(X11InputTest, APasteKeepsImagesAndFileListsWholeAndLeavesAClipboardThatCannotBeSavedAlone) {
  TempDir dir;
  std::mt19937 random(12);
  std::string image(3 << 20, '\0');  // in several INCR chunks, both ways
  for (char& byte : image) byte = static_cast<char>(random());
  const std::pair<std::string, std::string> kept[] = {
      {"image/png", image}, {"text/uri-list", "file:///home/me/a%20b.pdf\r\nfile:///home/me/c.txt\r\n"}};
  const std::string text(80, 'p');
  for (const auto& [target, bytes] : kept) {
    std::ofstream(dir / "in", std::ios::binary) << bytes;
    ChildProcess owner({"xclip", "-quiet", "-selection", "clipboard", "-t", target, (dir / "in").string()}, env());
    ASSERT_TRUE(eventually([&] { return clipboard("TARGETS").find(target) != std::string::npos; }));
    const size_t from = recorder.output().size();
    desktop.keys(1, {.text = text}, {});
    main.advance(milliseconds(200));
    EXPECT_TRUE(recorder.waitForOutput("paste " + text + "\n", kPatience, from)) << target;
    main.advance(milliseconds(1000));
    EXPECT_TRUE(eventually([&] { return clipboard(target) == bytes; })) << target;
  }

  ChildProcess silent({"xclip", "-quiet", "-selection", "clipboard"}, env());
  silent.write("mine");
  silent.closeInput();
  ASSERT_TRUE(eventually([&] { return clipboard() == "mine"; }));
  silent.signal(SIGSTOP);  // lists nothing in time: the clipboard cannot be saved
  const std::string before = recorder.typed();
  desktop.keys(1, {.text = std::string(80, 'q')}, {});
  main.advance(milliseconds(200));
  EXPECT_TRUE(eventually([&] { return recorder.typed() == before + std::string(80, 'q'); })) << recorder.typed();
  silent.signal(SIGCONT);
  EXPECT_EQ(clipboard(), "mine");
}

TEST_F(X11InputTest, SeventyCjkCharactersAreTypedWithoutHoldingUpTheMainExecutor) {
  AsioExecutor realMain("main");
  Platform parts = x11::makeX11Platform({realMain, realMain, server.name()});
  KeyInjector injector{realMain, *parts.keyboard, *parts.clipboard, *parts.inputSources, CmdModifier::ctrl};
  std::string text;
  for (char32_t cp = 0x4e00; cp < 0x4e00 + 70 * 7; cp += 7) {
    text += {char(0xe0 | cp >> 12), char(0x80 | (cp >> 6 & 0x3f)), char(0x80 | (cp & 0x3f))};
  }
  TimePoint lastTick = Clock::now();
  Duration longestGap{};
  std::function<void()> tick = [&] {
    longestGap = std::max(longestGap, Clock::now() - lastTick);
    lastTick = Clock::now();
    realMain.postAfter(milliseconds(10), tick);
  };
  realMain.post(tick);
  realMain.post([&] { injector.enqueue(1, {.text = text}); });
  EXPECT_TRUE(eventually([&] { return recorder.typed() == text; })) << recorder.typed();
  EXPECT_LT(runOn(realMain, [&] { return longestGap; }), milliseconds(60));
  realMain.shutdown();
}

TEST_F(X11InputTest, ShortTextIsPastedWhileAnIbusEngineConvertsAndTypedUnderAPlainOne) {
  TempDir home;
  ChildProcess bus({"dbus-daemon", "--session", "--nofork", "--print-address=1"});
  ASSERT_TRUE(bus.waitForOutput("\n"));
  const ChildProcess::Options session{.environment = {
      "DISPLAY=" + server.name(), "HOME=" + home.path().string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
      "DBUS_SESSION_BUS_ADDRESS=" + bus.output().substr(0, bus.output().find('\n'))}};
  x11::X11Keyboard keyboard(main, server.name());
  InputMethodAwareSources sources(std::make_unique<x11::X11InputSources>(keyboard),
                                  std::make_unique<DbusInputMethod>(server.name(), home / ".config"));
  KeyInjector injector{main, keyboard, *platform.clipboard, sources, CmdModifier::ctrl};
  // Whether the recorder shows these lines for the text.
  auto entered = [&](const std::string& text, const std::string& lines) {
    const size_t from = recorder.output().size();
    injector.enqueue(1, {.text = text});
    main.advance(milliseconds(200));
    const bool seen = recorder.waitForOutput(lines, kPatience, from) && recorder.output().substr(from) == lines;
    main.advance(milliseconds(1000));  // past the paste's undoing
    return seen;
  };
  EXPECT_EQ(sources.current()->asciiCapable, true);  // no framework

  ChildProcess daemon({"ibus-daemon", "--panel=disable", "--emoji-extension=disable",
                       "--config=/usr/libexec/ibus-memconf", "--address=unix:path=" + (home / "ibus").string()},
                      session);
  ASSERT_TRUE(eventually([&] { return ChildProcess::run({"ibus", "engine", "hangul"}, session) == 0; }));
  EXPECT_TRUE(entered("hi", "key ffe3 0 \nkey 76 4 v\npaste hi\n"));
  ASSERT_EQ(ChildProcess::run({"ibus", "engine", "xkb:us::eng"}, session), 0);
  EXPECT_TRUE(entered("ok", "key 6f 0 o\nkey 6b 0 k\n"));

  ASSERT_EQ(ChildProcess::run({"ibus", "engine", "hangul"}, session), 0);
  EXPECT_EQ(sources.current()->asciiCapable, false);
  ChildProcess::run({"ibus", "exit"}, session);
  EXPECT_EQ(daemon.waitForExit(), 0);
  EXPECT_TRUE(eventually([&] { return sources.current()->asciiCapable == true; }));
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
      "button 1 960 540 0\nkey fc 0 ü\nkey ffe3 0 \nkey 76 4 v\npaste " + std::string(100, 'p') + "\n";
  EXPECT_EQ(again.lines(expected), expected);
  main.advance(milliseconds(1000));
  EXPECT_TRUE(eventually([&] { return clipboard() == "earlier"; }));
}

}  // namespace
}  // namespace vistaro::testing
