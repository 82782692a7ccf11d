#include "input/key_injector.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "core/manual_executor.h"
#include "fakes/input/fake_key_seams.h"
#include "input/paste_keystroke.h"

namespace vistaro::testing {
namespace {

using std::chrono::milliseconds;
using Taps = std::vector<KeyTap>;
constexpr Keysym kBack = XKB_KEY_BackSpace;

Taps taps(std::vector<Keysym> keysyms, Modifiers modifiers = 0) {
  Taps out;
  for (Keysym keysym : keysyms) out.push_back({keysym, modifiers});
  return out;
}
const Taps kPaste = taps({XKB_KEY_v}, kControl);

class KeyInjectorTest : public ::testing::Test {
 protected:
  // The keys pressed within this much more time.
  Taps after(int ms) {
    executor.advance(milliseconds(ms));
    return std::exchange(keyboard.taps, {});
  }
  // Enters a message and waits out its pause, or longer.
  Taps run(KeyMessage message, int ms = 200) {
    injector.enqueue(1, std::move(message));
    return after(ms);
  }
  std::string clip() { return clipboard.contents.empty() ? "" : clipboard.contents[0].data; }

  ManualExecutor executor;
  FakeKeyboard keyboard;
  FakeClipboard clipboard;
  FakeInputSources sources;
  FakeClipboard primary;
  FakeFocusedWindow focus;
  KeyInjector injector{executor, keyboard, clipboard, sources, CmdModifier::ctrl, {&primary, &focus}};
};

TEST_F(KeyInjectorTest, EachMessagePressesItsKeys) {
  const std::pair<KeyMessage, Taps> cases[] = {
      {{.text = "hi A?"}, taps({'h', 'i', ' ', 'A', '?'})},
      {{.text = "é世😀"}, taps({XKB_KEY_eacute, 0x01004e16, 0x0101f600})},
      // One character, two presses; line breaks are Return, other control characters nothing.
      {{.text = "e\u0301\r\n\tx\x01"}, taps({'e', 0x01000301, XKB_KEY_Return, XKB_KEY_Tab, 'x'})},
      {{.text = "ab", .backspaces = 3}, taps({kBack, kBack, kBack, 'a', 'b'})},
      {{.text = "x", .backspaces = -5}, taps({'x'})},
      {{.key = "forwardDelete", .modifiers = {"shift", "opt"}}, taps({XKB_KEY_Delete}, kShift | kAlt)},
      {{.key = "C", .modifiers = {"cmd", "cmd", "bogus"}}, taps({'C'}, kControl)},
      {{.key = "é", .modifiers = {"ctrl"}}, taps({XKB_KEY_eacute}, kControl)},
      {{.key = "?"}, taps({'?'})},
      // Bare keys only for a US keyboard's characters; names are case-sensitive.
      {{.key = "é"}, {}},
      {{.key = "Return"}, {}},
      {{.key = "ab", .modifiers = {"cmd"}}, {}},
      {{.text = "zz", .backspaces = 4, .key = "tab"}, taps({XKB_KEY_Tab})}};
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(run(cases[i].first), cases[i].second) << "case " << i;
}

TEST_F(KeyInjectorTest, EightyCharactersArePastedAndTheEarlierContentsComeBackASecondLater) {
  std::string combining;
  for (int i = 0; i < 79; ++i) combining += "e\u0301";
  EXPECT_EQ(run({.text = combining}).size(), 2u * 79);
  EXPECT_EQ(run({.text = std::string(80, 'a'), .backspaces = 1}), (Taps{{kBack, 0}, kPaste[0]}));
  EXPECT_EQ(clip(), std::string(80, 'a'));
  after(800);
  EXPECT_TRUE(clipboard.contents.empty());  // as before

  clipboard.replaceContents({{"text/plain", "mine"}});
  run({.text = std::string(90, 'b')}, 500);
  run({.text = std::string(90, 'c')}, 999);  // before the first is undone: the older copy is kept
  EXPECT_EQ(clip(), std::string(90, 'c'));
  after(1);
  EXPECT_EQ(clip(), "mine");

  // Copied meanwhile: left alone, and not undone by a later paste either.
  run({.text = std::string(90, 'd')});
  clipboard.replaceContents({{"text/plain", "theirs"}});
  after(1000);
  run({.text = std::string(90, 'e')}, 1200);
  EXPECT_EQ(clip(), "theirs");
}

TEST_F(KeyInjectorTest, TerminalsPasteFromBothSelectionsAndNothingIsReplacedThatCannotBeSaved) {
  const std::string text(80, 't');
  focus.names = {"xterm", "XTerm"};
  primary.replaceContents({{"STRING", "selected"}});
  EXPECT_EQ(run({.text = text}), taps({XKB_KEY_Insert}, kShift));
  EXPECT_EQ(primary.contents[0].data, text);
  after(1000);
  EXPECT_EQ(primary.contents[0].data, "selected");
  EXPECT_TRUE(clipboard.contents.empty());

  primary.copyable = false;
  EXPECT_EQ(run({.text = text}).size(), 80u);  // typed
  focus.names = {"firefox-esr", "firefox-esr"};
  EXPECT_EQ(run({.text = text}), kPaste);  // other windows leave the primary selection alone
  after(1000);
  clipboard.copyable = false;
  EXPECT_EQ(run({.text = text}).size(), 80u);
  EXPECT_EQ(primary.contents[0].data, "selected");
  EXPECT_TRUE(clipboard.contents.empty());
}

TEST(PasteKeystrokeTest, TerminalsAreKnownByTheirWindowClass) {
  const PasteKeystroke terminal{XKB_KEY_Insert, kShift, true};
  const std::pair<std::vector<std::string>, PasteKeystroke> cases[] = {
      {{"xterm", "XTerm"}, terminal},
      {{"gnome-terminal-server", "Gnome-terminal"}, terminal},
      {{"konsole", "konsole"}, terminal},
      {{"Alacritty", "Alacritty"}, terminal},
      {{"kitty", "kitty"}, terminal},
      {{"org.gnome.Console", "Kgx"}, terminal},
      {{"urxvt", "URxvt"}, terminal},
      {{"gedit", "Gedit"}, {XKB_KEY_v, kControl, false}},
      {{}, {XKB_KEY_v, kControl, false}}};
  for (const auto& [names, keystroke] : cases) EXPECT_EQ(pasteKeystrokeFor(names, CmdModifier::ctrl), keystroke) << names.size();
  EXPECT_EQ(pasteKeystrokeFor({"gedit", "Gedit"}, CmdModifier::super).modifiers, kSuper);
}

TEST_F(KeyInjectorTest, WaitsOutEachPauseAndMergesTextThatArrivesMeanwhile) {
  const std::vector<KeyMessage> burst{{.text = "a"},     {.text = "b", .backspaces = 1},
                                      {.text = "c"},     {.text = "d", .backspaces = 0},
                                      {.key = "return"}, {.text = "e"}};
  for (const KeyMessage& message : burst) injector.enqueue(1, message);
  EXPECT_EQ(after(0), taps({'a'}));
  EXPECT_EQ(after(9), Taps{});
  EXPECT_EQ(after(1), taps({kBack, 'b', 'c', 'd'}));  // deletions keep a text apart from the one before
  EXPECT_EQ(after(10), taps({XKB_KEY_Return}));
  EXPECT_EQ(after(10), taps({'e'}));
  injector.enqueue(1, {.text = std::string(100, 'x')});
  EXPECT_EQ(after(10), kPaste);
  injector.enqueue(1, {.text = "y"});
  EXPECT_EQ(after(149), Taps{});
  EXPECT_EQ(after(1), taps({'y'}));
}

TEST_F(KeyInjectorTest, AnInputMethodIsSwitchedAwayForTypingAndBackFiveSecondsLaterOrTheTextIsPasted) {
  sources.selected = FakeInputSources::kInputMethod;
  sources.selectWorks = false;
  EXPECT_EQ(run({.text = "a"}), kPaste);
  sources.selectWorks = true;
  EXPECT_EQ(run({.text = "b"}, 1200), kPaste);  // within a second of the last attempt
  injector.enqueue(1, {.text = "ab", .backspaces = 2});
  EXPECT_EQ(after(79), taps({kBack, kBack}));
  EXPECT_EQ(after(1), taps({'a', 'b'}));  // the deletions are not repeated
  after(3000);
  EXPECT_EQ(run({.text = "c"}, 4999), taps({'c'}));
  EXPECT_EQ(sources.selected, FakeInputSources::kLatin);
  after(1);
  EXPECT_EQ(sources.selected, FakeInputSources::kInputMethod);
  sources.hasLatin = false;
  EXPECT_EQ(run({.text = "d"}), kPaste);
}

TEST_F(KeyInjectorTest, TheQueueIsBoundedAndAClientsLeftoversGoWithIt) {
  size_t accepted = 0;
  for (size_t i = 0; i < KeyInjector::kMaxQueuedMessages + 3; ++i) accepted += injector.enqueue(1, {.key = "left"});
  EXPECT_EQ(accepted, KeyInjector::kMaxQueuedMessages + 1);  // the first is pressed at once
  EXPECT_FALSE(injector.enqueue(2, {.key = "right"}));
  injector.dropClient(1);
  EXPECT_FALSE(injector.enqueue(2, {.text = std::string(KeyInjector::kMaxQueuedTextBytes + 1, 'x')}));
  injector.enqueue(2, {.text = "ok"});
  injector.enqueue(1, {.text = "no"});
  injector.enqueue(2, {.text = "!"});  // not merged into another client's text
  injector.dropClient(1);
  EXPECT_EQ(after(2000), (Taps{{XKB_KEY_Left, 0}, {'o', 0}, {'k', 0}, {'!', 0}}));
}

}  // namespace
}  // namespace vistaro::testing
