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
    // Two clients, and one of them now and then leaving with its keys still queued.
    const uint64_t client = 1 + (control >> 5 & 1);
    if (injector.enqueue(client, std::move(message))) ++messages;
    if (control & 64) injector.dropClient(client);
    if (control & 16) executor.advance(std::chrono::milliseconds(control));
  }
  executor.advance(std::chrono::seconds(10));
  // Every message presses at most its capped deletions plus one key per byte, and paste needs one.
  if (keyboard.taps.size() > messages * (KeyInjector::kMaxBackspaces + 1) + size) std::abort();
  // Drained, the queue takes the most text it may hold: its byte count came back to zero.
  // Checked for one input in sixteen: a megabyte per run would be most of the run's time.
  if (size == 0 || (data[0] & 15) != 0) return 0;
  executor.advance(std::chrono::hours(1));
  KeyMessage first;
  first.key = "left";  // entered at once; what follows waits in the queue
  KeyMessage most;
  most.text = std::string(KeyInjector::kMaxQueuedTextBytes, 'x');
  if (!injector.enqueue(1, std::move(first)) || !injector.enqueue(1, std::move(most))) std::abort();
  return 0;
}
