#pragma once

#include <deque>
#include <memory>
#include <optional>

#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "input/clipboard.h"
#include "input/clipboard_stash.h"
#include "input/focused_window.h"
#include "input/input_sources.h"
#include "input/keyboard.h"
#include "wire/messages.h"

namespace vistaro {

// Terminals paste from the primary selection: with both present, pastes into one go there too.
struct TerminalPaste {
  Clipboard* primary = nullptr;
  FocusedWindow* focus = nullptr;
};

// Enters the client's key messages one after another, with a pause after each that
// depends on what it did. Short text is typed, long text (or text the current input
// source would mangle) is pasted through the clipboard, whose earlier contents come
// back afterwards; a clipboard that cannot be saved whole is left alone and the text typed.
// A keyboard that asks to wait is asked again later: nothing here blocks. Lives on the
// main executor: call everything there.
class KeyInjector {
 public:
  KeyInjector(Executor& main, Keyboard& keyboard, Clipboard& clipboard, InputSources& sources,
              CmdModifier cmdModifier, TerminalPaste terminalPaste = {});
  ~KeyInjector();
  KeyInjector(const KeyInjector&) = delete;
  KeyInjector& operator=(const KeyInjector&) = delete;

  // Queues one client's message; false (and nothing queued) when the queue is full.
  bool enqueue(uint64_t client, KeyMessage message);
  // The client has gone: what it queued and was not typed yet is dropped.
  void dropClient(uint64_t client);

  // Until then the physical-input check ignores input: an injected Control+arrow can move
  // the pointer-visible desktop and look like someone at the machine.
  TimePoint injectedShortcutGraceUntil() const { return graceUntil_; }

  static constexpr int kMaxBackspaces = 500;
  static constexpr size_t kPasteThresholdGraphemes = 80;
  // A few seconds of typing; more is a client that sends faster than any desktop types.
  static constexpr size_t kMaxQueuedMessages = 256;
  static constexpr size_t kMaxQueuedTextBytes = 1 << 20;

 private:
  struct Queued {
    uint64_t client = 0;
    KeyMessage message;
  };
  struct Tap {
    Keysym keysym;
    Modifiers modifiers;
  };
  void processNext();
  // Queues the message's key presses; the pause after they are all pressed.
  Duration handle(const KeyMessage& message);
  Duration handleText(const KeyMessage& message);
  Duration handleKey(const std::string& key, const std::vector<std::string>& modifierNames);
  // Presses what is queued; a wait when the keyboard asks for one before the rest.
  std::optional<Duration> pressTaps();
  Duration typeOrPaste(const std::string& text, const std::vector<std::string>& characters);
  void typeText(const std::vector<std::string>& characters);
  bool pasteText(const std::string& text);
  bool switchToAsciiCapableSource();
  void scheduleInputSourceRestore();

  Executor& main_;
  Keyboard& keyboard_;
  InputSources& sources_;
  CmdModifier cmdModifier_;
  FocusedWindow* focus_;

  std::deque<Queued> pending_;
  std::deque<Tap> taps_;  // of the message being entered
  Duration pauseAfterTaps_{};
  bool typedText_ = false;  // those taps type text: the input source's restore waits for them
  size_t pendingTextBytes_ = 0;
  uint64_t current_ = 0;  // whose message is being entered
  bool processing_ = false;
  TimePoint graceUntil_{};
  std::optional<TimePoint> lastSourceSwitch_;
  std::optional<InputSourceID> savedSource_;
  DelayedWork sourceRestore_;
  ClipboardStash clipboard_;
  std::optional<ClipboardStash> primary_;
  DelayedWork clipboardRestore_;
  Cancellable nextStep_;
  LifetimeGuard guard_;
};

}  // namespace vistaro
