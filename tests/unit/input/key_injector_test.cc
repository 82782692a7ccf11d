#include "input/key_injector.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <chrono>

#include "core/manual_executor.h"
#include "fakes/input/fake_clipboard.h"
#include "fakes/input/fake_input_sources.h"
#include "fakes/input/fake_keyboard.h"

namespace vistaro {
namespace {

using std::chrono::milliseconds;

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

KeyMessage text(std::string value, std::optional<int64_t> backspaces = std::nullopt) {
  return {.text = std::move(value), .backspaces = backspaces, .key = std::nullopt, .modifiers = {}};
}

KeyMessage key(std::string name, std::vector<std::string> modifiers = {}) {
  return {.text = std::nullopt, .backspaces = std::nullopt, .key = std::move(name), .modifiers = std::move(modifiers)};
}

class KeyInjectorTest : public ::testing::Test {
 protected:
  std::vector<KeyTap> takeTaps() { return std::exchange(keyboard.taps, {}); }
  std::vector<KeyTap> tapsOf(std::vector<Keysym> keysyms, Modifiers modifiers = 0) {
    std::vector<KeyTap> out;
    for (Keysym k : keysyms) out.push_back({k, modifiers});
    return out;
  }
  // Enters a message and waits out its pause.
  std::vector<KeyTap> run(KeyMessage message) {
    injector.enqueue(1, std::move(message));
    executor.advance(milliseconds(200));
    return takeTaps();
  }

  ManualExecutor executor;
  FakeKeyboard keyboard;
  FakeClipboard clipboard;
  FakeInputSources sources;
  KeyInjector injector{executor, keyboard, clipboard, sources, CmdModifier::ctrl};
};

TEST_F(KeyInjectorTest, TypesEachCharacterAsItsKeysym) {
  EXPECT_EQ(run(text("hello")), tapsOf({'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(run(text("A?")), tapsOf({'A', '?'}));
  EXPECT_EQ(run(text("é世😀")), tapsOf({XKB_KEY_eacute, 0x01004e16, 0x0101f600}));
  // A combining sequence is one character but two key presses; line breaks are Return.
  EXPECT_EQ(run(text("e\u0301\r\n\tx\x01")), tapsOf({'e', 0x01000301, XKB_KEY_Return, XKB_KEY_Tab, 'x'}));
  EXPECT_TRUE(clipboard.contents.empty());
}

TEST_F(KeyInjectorTest, DeletesBeforeTypingWithTheCountCapped) {
  EXPECT_EQ(run(text("ab", 3)), tapsOf({XKB_KEY_BackSpace, XKB_KEY_BackSpace, XKB_KEY_BackSpace, 'a', 'b'}));
  EXPECT_EQ(run(text("", 2000)).size(), 500u);
  EXPECT_EQ(run(text("x", -5)), tapsOf({'x'}));
  EXPECT_TRUE(run(text("", -1)).empty());
}

TEST_F(KeyInjectorTest, EightyCharactersArePastedSeventyNineTyped) {
  EXPECT_EQ(run(text(repeat("e\u0301", 79))).size(), 2u * 79);
  EXPECT_TRUE(clipboard.contents.empty());

  std::string long_text = repeat("a", 80);
  EXPECT_EQ(run(text(long_text, 1)), (std::vector<KeyTap>{{XKB_KEY_BackSpace, 0}, {XKB_KEY_v, kControl}}));
  ASSERT_FALSE(clipboard.contents.empty());
  EXPECT_EQ(clipboard.contents[0].data, long_text);
}

TEST_F(KeyInjectorTest, WaitsOutEachPauseAndMergesTextThatArrivesMeanwhile) {
  injector.enqueue(1, text("a"));
  injector.enqueue(1, text("b", 1));  // deletions first: kept apart
  injector.enqueue(1, text("c"));
  injector.enqueue(1, text("d", 0));
  injector.enqueue(1, key("return"));
  injector.enqueue(1, text("e"));
  EXPECT_EQ(takeTaps(), tapsOf({'a'}));
  executor.advance(milliseconds(9));
  EXPECT_TRUE(takeTaps().empty());
  executor.advance(milliseconds(1));
  EXPECT_EQ(takeTaps(), tapsOf({XKB_KEY_BackSpace, 'b', 'c', 'd'}));
  executor.advance(milliseconds(10));
  EXPECT_EQ(takeTaps(), tapsOf({XKB_KEY_Return}));
  executor.advance(milliseconds(10));
  EXPECT_EQ(takeTaps(), tapsOf({'e'}));
  executor.advance(milliseconds(10));

  // A paste holds the queue for longer.
  injector.enqueue(1, text(repeat("x", 100)));
  EXPECT_EQ(takeTaps(), tapsOf({XKB_KEY_v}, kControl));
  executor.advance(milliseconds(20));
  injector.enqueue(1, text("y"));
  executor.advance(milliseconds(129));
  EXPECT_TRUE(takeTaps().empty());
  executor.advance(milliseconds(1));
  EXPECT_EQ(takeTaps(), tapsOf({'y'}));
}

TEST_F(KeyInjectorTest, NamedKeysAndSingleCharactersWithModifiers) {
  EXPECT_EQ(run(key("return")), tapsOf({XKB_KEY_Return}));
  EXPECT_EQ(run(key("forwardDelete", {"shift", "opt"})), tapsOf({XKB_KEY_Delete}, kShift | kAlt));
  EXPECT_EQ(run(key("c", {"cmd"})), tapsOf({'c'}, kControl));
  EXPECT_EQ(run(key("C", {"cmd", "cmd", "bogus"})), tapsOf({'C'}, kControl));
  EXPECT_EQ(run(key("?")), tapsOf({'?'}));
  EXPECT_EQ(run(key("é", {"ctrl"})), tapsOf({XKB_KEY_eacute}, kControl));
  // Without modifiers only a US keyboard's characters are pressed; other keys are nothing.
  EXPECT_TRUE(run(key("é")).empty());
  EXPECT_TRUE(run(key("Return")).empty());
  EXPECT_TRUE(run(key("ab", {"cmd"})).empty());
  EXPECT_TRUE(run(key("")).empty());
  // The key wins over text and deletions in the same message.
  EXPECT_EQ(run(KeyMessage{.text = "zz", .backspaces = 4, .key = "tab", .modifiers = {}}), tapsOf({XKB_KEY_Tab}));

  KeyInjector super{executor, keyboard, clipboard, sources, CmdModifier::super};
  super.enqueue(1, key("c", {"cmd", "ctrl"}));
  EXPECT_EQ(takeTaps(), tapsOf({'c'}, kSuper | kControl));
}

TEST_F(KeyInjectorTest, GraceTimeOnlyAfterControlAloneWithANavigationKey) {
  TimePoint never = injector.injectedShortcutGraceUntil();
  run(key("left", {"ctrl", "shift"}));
  run(key("return", {"ctrl"}));
  run(key("left", {"cmd"}));
  EXPECT_EQ(injector.injectedShortcutGraceUntil(), never);

  TimePoint pressedAt = executor.now();
  EXPECT_EQ(run(key("left", {"ctrl", "ctrl"})), tapsOf({XKB_KEY_Left}, kControl));
  EXPECT_EQ(injector.injectedShortcutGraceUntil(), pressedAt + milliseconds(2000));
}

TEST_F(KeyInjectorTest, PasteRestoresTheEarlierContentsOneSecondLater) {
  clipboard.userCopies("mine");
  ClipboardContents before = clipboard.contents;
  injector.enqueue(1, text(repeat("p", 90)));
  ASSERT_EQ(clipboard.contents.size(), 3u);
  executor.advance(milliseconds(999));
  EXPECT_EQ(clipboard.contents[0].data, repeat("p", 90));
  executor.advance(milliseconds(1));
  EXPECT_EQ(clipboard.contents, before);
}

TEST_F(KeyInjectorTest, PasteLeavesTheClipboardAloneWhenSomeoneCopiedMeanwhile) {
  clipboard.userCopies("mine");
  injector.enqueue(1, text(repeat("p", 90)));
  executor.advance(milliseconds(500));
  clipboard.userCopies("theirs");
  executor.advance(milliseconds(600));
  EXPECT_EQ(clipboard.contents, (ClipboardContents{{"text/plain", "theirs"}}));

  // The dropped copy is not restored by a later paste either.
  injector.enqueue(1, text(repeat("q", 90)));
  executor.advance(milliseconds(1000));
  EXPECT_EQ(clipboard.contents, (ClipboardContents{{"text/plain", "theirs"}}));
}

TEST_F(KeyInjectorTest, TwoPastesRestoreWhatWasThereBeforeTheFirst) {
  injector.enqueue(1, text(repeat("1", 90)));  // the clipboard was empty
  executor.advance(milliseconds(500));
  injector.enqueue(1, text(repeat("2", 90)));
  executor.advance(milliseconds(999));
  EXPECT_EQ(clipboard.contents[0].data, repeat("2", 90));
  executor.advance(milliseconds(1));
  EXPECT_TRUE(clipboard.contents.empty());
}

TEST_F(KeyInjectorTest, InputMethodIsSwitchedAwayForTypingAndComesBackFiveSecondsAfterTheLastText) {
  sources.selected = FakeInputSources::kInputMethod;
  injector.enqueue(1, text("ab", 2));
  EXPECT_EQ(takeTaps(), tapsOf({XKB_KEY_BackSpace, XKB_KEY_BackSpace}));
  EXPECT_EQ(sources.selected, FakeInputSources::kLatin);
  executor.advance(milliseconds(79));
  EXPECT_TRUE(takeTaps().empty());
  executor.advance(milliseconds(1));
  EXPECT_EQ(takeTaps(), tapsOf({'a', 'b'}));  // the deletions are not repeated

  executor.advance(milliseconds(3000));
  injector.enqueue(1, text("c"));  // postpones the restoration
  executor.advance(milliseconds(4999));
  EXPECT_EQ(sources.selected, FakeInputSources::kLatin);
  executor.advance(milliseconds(1));
  EXPECT_EQ(sources.selected, FakeInputSources::kInputMethod);
  EXPECT_EQ(sources.selections, (std::vector<InputSourceID>{FakeInputSources::kLatin, FakeInputSources::kInputMethod}));
}

TEST_F(KeyInjectorTest, PastesWhenTheSwitchFailsOrWasTriedWithinASecond) {
  sources.selected = FakeInputSources::kInputMethod;
  sources.selectWorks = false;
  EXPECT_EQ(run(text("a")), tapsOf({XKB_KEY_v}, kControl));
  EXPECT_EQ(clipboard.contents[0].data, "a");

  sources.selectWorks = true;
  EXPECT_EQ(run(text("b")), tapsOf({XKB_KEY_v}, kControl));  // 0.2 s after the failed attempt
  executor.advance(milliseconds(1000));
  EXPECT_EQ(run(text("c")), tapsOf({'c'}));

  sources.selected = FakeInputSources::kInputMethod;
  sources.hasLatin = false;
  executor.advance(milliseconds(2000));
  EXPECT_EQ(run(text("d")), tapsOf({XKB_KEY_v}, kControl));
}

TEST_F(KeyInjectorTest, PendingWorkDoesNothingOnceTheInjectorIsGone) {
  auto shortLived = std::make_unique<KeyInjector>(executor, keyboard, clipboard, sources, CmdModifier::ctrl);
  shortLived->enqueue(1, text(repeat("z", 90)));
  shortLived->enqueue(1, text("later"));
  shortLived.reset();
  takeTaps();
  executor.advance(milliseconds(2000));
  EXPECT_TRUE(takeTaps().empty());
  EXPECT_EQ(clipboard.contents[0].data, repeat("z", 90));
}

TEST_F(KeyInjectorTest, QueueIsBoundedAndAClientsLeftoversGoWithIt) {
  // Client 1 floods named keys; a refused message queues nothing.
  size_t accepted = 0;
  while (injector.enqueue(1, key("left"))) ++accepted;
  EXPECT_EQ(accepted, KeyInjector::kMaxQueuedMessages + 1);  // the first is typed at once
  EXPECT_FALSE(injector.enqueue(2, key("right")));
  // Text that would pass the byte bound is refused even where it could merge.
  EXPECT_FALSE(injector.enqueue(1, text(std::string(KeyInjector::kMaxQueuedTextBytes + 1, 'x'))));

  injector.dropClient(1);
  EXPECT_TRUE(injector.enqueue(2, text("ok")));
  executor.advance(milliseconds(2000));
  // Only what was already being typed when client 1 left, then client 2's text.
  const std::vector<KeyTap> taps = takeTaps();
  ASSERT_EQ(taps.size(), 3u);
  EXPECT_EQ(taps[0], (KeyTap{XKB_KEY_Left, 0}));
  EXPECT_EQ(std::vector<KeyTap>(taps.begin() + 1, taps.end()), tapsOf({XKB_KEY_o, XKB_KEY_k}));
}

TEST_F(KeyInjectorTest, TextsOfDifferentClientsAreNotMerged) {
  injector.enqueue(1, text("ab"));  // typed at once
  injector.enqueue(1, text("c"));
  injector.enqueue(2, text("d"));
  injector.dropClient(1);
  executor.advance(milliseconds(2000));
  EXPECT_EQ(takeTaps(), tapsOf({XKB_KEY_a, XKB_KEY_b, XKB_KEY_d}));
}

}  // namespace
}  // namespace vistaro
