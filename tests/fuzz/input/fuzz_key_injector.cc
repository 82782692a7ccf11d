// Arbitrary key messages (any bytes as text or key, any counts) through the key injector.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/manual_executor.h"
#include "fakes/input/fake_clipboard.h"
#include "fakes/input/fake_input_sources.h"
#include "fakes/input/fake_keyboard.h"
#include "input/key_injector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistaro;
  ManualExecutor executor;
  FakeKeyboard keyboard;
  FakeClipboard clipboard;
  FakeInputSources sources;
  KeyInjector injector(executor, keyboard, clipboard, sources, CmdModifier::ctrl);
  size_t at = 0;
  size_t messages = 0;
  while (at + 2 <= size) {
    uint8_t control = data[at];
    size_t length = std::min<size_t>(data[at + 1], size - at - 2);
    std::string piece(reinterpret_cast<const char*>(data + at + 2), length);
    at += 2 + length;
    KeyMessage message;
    if (control & 1) {
      message.key = piece;
    } else {
      message.text = piece;
    }
    if (control & 2) message.backspaces = static_cast<int8_t>(control) * int64_t{100};
    if (control & 4) message.modifiers = {"cmd", "shift"};
    if (control & 8) sources.selected = FakeInputSources::kInputMethod;
    injector.enqueue(std::move(message));
    ++messages;
    if (control & 16) executor.advance(std::chrono::milliseconds(control));
  }
  executor.advance(std::chrono::seconds(10));
  // Every message presses at most its capped deletions plus one key per byte, and paste needs one.
  if (keyboard.taps.size() > messages * (KeyInjector::kMaxBackspaces + 1) + size) std::abort();
  return 0;
}
