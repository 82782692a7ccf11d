#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <sstream>

#include "core/asio_executor.h"
#include "input/key_injector.h"
#include "input/pointer_injector.h"
#include "integration/input/recorder_process.h"
#include "platform/x11/x11_clipboard.h"
#include "platform/x11/x11_input_sources.h"
#include "platform/x11/x11_keyboard.h"
#include "platform/x11/x11_monitors.h"
#include "platform/x11/x11_pointer.h"
#include "support/cross_thread_events.h"
#include "support/xvfb_server.h"

namespace vistaro {
namespace {

using testing::RecorderProcess;
using testing::runOn;
using testing::XvfbServer;

struct KeyEvent {
  uint32_t keysym = 0;
  uint32_t state = 0;
  std::string text;
};

std::vector<KeyEvent> keyEvents(const RecorderProcess& recorder) {
  std::vector<KeyEvent> events;
  for (const std::string& line : recorder.linesStartingWith("key ")) {
    std::istringstream in(line.substr(4));
    KeyEvent event;
    in >> std::hex >> event.keysym >> event.state;
    in.get();
    std::getline(in, event.text);
    events.push_back(event);
  }
  return events;
}

class X11PointerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server.run({"xrandr", "--setmonitor", "left", "800/211x1080/286+0+0", "screen"}), 0);
    ASSERT_EQ(server.run({"xrandr", "--setmonitor", "right", "1120/296x900/238+800+100", "none"}), 0);
  }
  InputMessage on(const char* monitor, InputMessage::Kind kind, double x, double y) {
    InputMessage message;
    message.kind = kind;
    message.x = x;
    message.y = y;
    message.displayID = x11::monitorID(monitor);
    return message;
  }

  XvfbServer server{1920, 1080};
  RecorderProcess recorder{server.name()};
  x11::X11Pointer pointer{server.name()};
  PointerInjector injector{[this] { return pointer.usable(); }, [this](DisplayID id) { return pointer.boundsOf(id); },
                           pointer};
};

TEST_F(X11PointerTest, ClicksLandOnTheMappedPixelOfTheMonitorWithTheirButton) {
  ASSERT_TRUE(pointer.usable());
  EXPECT_TRUE(injector.injectPointerInput(on("right", InputMessage::Kind::rightClick, 1, 1)));
  EXPECT_TRUE(injector.injectPointerInput(on("left", InputMessage::Kind::click, 0.5, 0)));
  ASSERT_TRUE(recorder.waitForCount("button", 2));
  EXPECT_EQ(recorder.linesStartingWith("button"), (std::vector<std::string>{"button 3 1919 999", "button 1 400 0"}));
  EXPECT_EQ(injector.displayPoint(on("right", InputMessage::Kind::click, 0, 0)), (Point{800, 100}));
  EXPECT_EQ(injector.displayPoint(on("gone", InputMessage::Kind::click, 0, 0)), std::nullopt);
}

TEST_F(X11PointerTest, ScrollPixelsArriveAsWheelClicksInTheirDirection) {
  InputMessage scroll = on("left", InputMessage::Kind::scroll, 0.5, 0.5);
  scroll.scrollBegan = true;
  scroll.scrollY = -120;
  injector.injectPointerInput(scroll);
  size_t down = static_cast<size_t>(120 / WheelAccumulator::kPixelsPerClick);
  ASSERT_TRUE(recorder.waitForCount("button", down));
  for (const std::string& line : recorder.linesStartingWith("button")) EXPECT_EQ(line, "button 5 400 540");

  recorder.clear();
  scroll.scrollBegan = false;
  scroll.scrollY = WheelAccumulator::kPixelsPerClick;
  scroll.scrollX = -WheelAccumulator::kPixelsPerClick;
  injector.injectPointerInput(scroll);
  ASSERT_TRUE(recorder.waitForCount("button", 2));
  EXPECT_EQ(recorder.linesStartingWith("button"), (std::vector<std::string>{"button 4 400 540", "button 7 400 540"}));
}

class X11KeyboardTest : public ::testing::Test {
 protected:
  X11KeyboardTest() {
    runOn(main, [this] {
      keyboard = std::make_unique<x11::X11Keyboard>(main, server.name());
      sources = std::make_unique<x11::X11InputSources>(*keyboard);
      injector = std::make_unique<KeyInjector>(main, *keyboard, clipboard, *sources, CmdModifier::ctrl);
    });
  }
  ~X11KeyboardTest() override {
    runOn(main, [this] {
      injector.reset();
      sources.reset();
      keyboard.reset();
    });
  }
  void enqueue(KeyMessage message) {
    main.post([this, message] { injector->enqueue(1, message); });
  }

  // What `xclip -o` prints for the target (empty when it fails).
  std::string readClipboard(const std::string& target = "UTF8_STRING") {
    char path[] = "/tmp/vistaro-clipboard-XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    server.run({"sh", "-c", "xclip -o -selection clipboard -t " + target + " > " + path});
    std::ifstream in(path);
    std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(path);
    return out;
  }
  bool clipboardBecomes(const std::string& expected) {
    for (int i = 0; i < 40; ++i) {
      if (readClipboard() == expected) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  void copyWithXclip(const std::string& text) {
    ASSERT_EQ(server.run({"sh", "-c", "printf '%s' '" + text + "' | xclip -selection clipboard -i"}), 0);
    ASSERT_TRUE(clipboardBecomes(text));
  }

  XvfbServer server{640, 480};
  RecorderProcess recorder{server.name()};
  x11::X11Clipboard clipboard{server.name()};
  AsioExecutor main{"test.main"};
  std::unique_ptr<x11::X11Keyboard> keyboard;
  std::unique_ptr<x11::X11InputSources> sources;
  std::unique_ptr<KeyInjector> injector;
};

TEST_F(X11KeyboardTest, TypedTextArrivesAsItsCharactersIncludingOnesTheLayoutLacks) {
  ASSERT_TRUE(keyboard->usable());
  std::string text = "héllo, 世界! Ωé😀";
  enqueue(KeyMessage{.text = text, .backspaces = 1, .key = std::nullopt, .modifiers = {}});
  std::string received;
  auto typedText = [&] {
    std::vector<KeyEvent> events = keyEvents(recorder);
    received.clear();
    for (size_t i = 1; i < events.size(); ++i) received += events[i].text;
    return !events.empty() && events[0].keysym == 0xff08 && received.size() >= text.size();
  };
  ASSERT_TRUE(recorder.waitUntil(typedText)) << received;
  EXPECT_EQ(received, text);
}

TEST_F(X11KeyboardTest, CmdWithALetterArrivesAsControlAndTheLetter) {
  enqueue(KeyMessage{.text = std::nullopt, .backspaces = std::nullopt, .key = "c", .modifiers = {"cmd"}});
  enqueue(KeyMessage{.text = std::nullopt, .backspaces = std::nullopt, .key = "C", .modifiers = {"cmd"}});
  enqueue(KeyMessage{.text = std::nullopt, .backspaces = std::nullopt, .key = "left", .modifiers = {"opt"}});
  // Modifier presses are keys too: wait for the last one's own press.
  ASSERT_TRUE(recorder.waitUntil([&] {
    for (const KeyEvent& e : keyEvents(recorder))
      if (e.keysym == 0xff51) return true;
    return false;
  }));
  std::vector<KeyEvent> letters;
  for (const KeyEvent& e : keyEvents(recorder))
    if (e.keysym == 'c' || e.keysym == 'C' || e.keysym == 0xff51) letters.push_back(e);
  ASSERT_EQ(letters.size(), 3u);
  EXPECT_EQ(letters[0].keysym, uint32_t{'c'});
  EXPECT_EQ(letters[0].state, uint32_t{ControlMask});
  EXPECT_EQ(letters[1].keysym, uint32_t{'C'});
  EXPECT_EQ(letters[1].state, uint32_t{ControlMask | ShiftMask});
  EXPECT_EQ(letters[2].state, uint32_t{Mod1Mask});
}

TEST_F(X11KeyboardTest, XkbGroupsAreInputSourcesAndOnlyLatinOnesAreAsciiCapable) {
  ASSERT_EQ(server.run({"setxkbmap", "-layout", "ru,us"}), 0);
  runOn(main, [this] {
    std::optional<InputSourceState> current = sources->current();
    EXPECT_TRUE(current && current->id == 0 && current->asciiCapable == false);
    EXPECT_EQ(sources->asciiCapable(), InputSourceID{1});
    EXPECT_TRUE(sources->select(1));
    current = sources->current();
    EXPECT_TRUE(current && current->id == 1 && current->asciiCapable == true);
    EXPECT_FALSE(sources->select(2));
  });
  // Under the Russian group the text arrives all the same, after a switch to the Latin one.
  runOn(main, [this] { return sources->select(0); });
  enqueue(KeyMessage{.text = "zя", .backspaces = std::nullopt, .key = std::nullopt, .modifiers = {}});
  ASSERT_TRUE(recorder.waitForCount("key", 2));
  std::vector<KeyEvent> events = keyEvents(recorder);
  EXPECT_EQ(events[0].text, "z");
  EXPECT_EQ(events[1].text, "я");
  EXPECT_EQ(runOn(main, [this] { return sources->current()->id; }), 1u);
}

TEST_F(X11KeyboardTest, LongTextIsPastedConcealedAndTheEarlierContentsComeBack) {
  ASSERT_TRUE(clipboard.usable());
  copyWithXclip("earlier contents");
  std::string text;
  for (int i = 0; i < 10; ++i) text += "0123456789";
  enqueue(KeyMessage{.text = text, .backspaces = std::nullopt, .key = std::nullopt, .modifiers = {}});
  ASSERT_TRUE(recorder.waitForCount("paste ", 1));
  EXPECT_EQ(recorder.linesStartingWith("paste "), std::vector<std::string>{"paste " + text});
  std::string targets = readClipboard("TARGETS");
  EXPECT_THAT(targets, ::testing::HasSubstr("org.nspasteboard.ConcealedType"));
  EXPECT_THAT(targets, ::testing::HasSubstr("x-kde-passwordManagerHint"));
  EXPECT_EQ(readClipboard("x-kde-passwordManagerHint"), "secret");

  EXPECT_TRUE(clipboardBecomes("earlier contents"));
  EXPECT_THAT(readClipboard("TARGETS"), ::testing::Not(::testing::HasSubstr("Concealed")));
}

TEST_F(X11KeyboardTest, LargeContentsHandedOverInChunksAreKeptToo) {
  std::string large;
  for (int i = 0; large.size() < 1500000; ++i) large += std::to_string(i) + ",";
  char path[] = "/tmp/vistaro-large-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_EQ(write(fd, large.data(), large.size()), static_cast<ssize_t>(large.size()));
  close(fd);
  ASSERT_EQ(server.run({"sh", "-c", std::string("xclip -selection clipboard -i < ") + path}), 0);
  unlink(path);
  ASSERT_TRUE(clipboardBecomes(large));
  enqueue(KeyMessage{.text = std::string(90, 'x'), .backspaces = std::nullopt, .key = std::nullopt, .modifiers = {}});
  ASSERT_TRUE(recorder.waitForCount("paste ", 1));
  EXPECT_TRUE(clipboardBecomes(large));
}

TEST_F(X11KeyboardTest, ClipboardTakenDuringThePasteIsLeftAlone) {
  copyWithXclip("earlier contents");
  enqueue(KeyMessage{.text = std::string(90, 'x'), .backspaces = std::nullopt, .key = std::nullopt, .modifiers = {}});
  ASSERT_TRUE(recorder.waitForCount("paste ", 1));
  copyWithXclip("copied meanwhile");
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  EXPECT_EQ(readClipboard(), "copied meanwhile");
}

}  // namespace
}  // namespace vistaro
