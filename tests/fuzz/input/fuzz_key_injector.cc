// Arbitrary key messages (any bytes as text or key, any counts) from two clients through the key injector.
#include <cstdlib>

#include "core/manual_executor.h"
#include "fakes/input/fake_key_seams.h"
#include "input/key_injector.h"

using namespace vistaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualExecutor executor;
  testing::FakeKeyboard keyboard;
  testing::FakeClipboard clipboard;
  testing::FakeInputSources sources;
  KeyInjector injector(executor, keyboard, clipboard, sources, CmdModifier::ctrl);
  size_t accepted = 0;
  for (size_t at = 0; at + 2 <= size;) {
    const uint8_t control = data[at];
    const std::string piece(reinterpret_cast<const char*>(data + at + 2),
                            std::min<size_t>(data[at + 1], size - at - 2));
    at += 2 + piece.size();
    KeyMessage message;
    (control & 1 ? message.key : message.text) = piece;
    if (control & 2) message.backspaces = static_cast<int8_t>(control) * int64_t{100};
    if (control & 4) message.modifiers = {"cmd", "shift"};
    if (control & 8) sources.selected = testing::FakeInputSources::kInputMethod;
    const uint64_t client = 1 + (control >> 5 & 1);
    accepted += injector.enqueue(client, std::move(message));
    if (control & 64) injector.dropClient(client);  // gone with its keys still queued
    if (control & 16) executor.advance(std::chrono::milliseconds(control));
  }
  executor.advance(std::chrono::hours(1));
  // A message presses at most its capped deletions and a key per byte, or pastes with one.
  if (keyboard.taps.size() > accepted * (KeyInjector::kMaxBackspaces + 1) + size) std::abort();
  // Drained, it takes the most text it may hold: its byte count came back to zero. A megabyte
  // is slow to copy, so for one input in sixteen.
  if (size == 0 || (data[0] & 15) != 0) return 0;
  if (!injector.enqueue(1, {.key = "left"})) std::abort();
  if (!injector.enqueue(1, {.text = std::string(KeyInjector::kMaxQueuedTextBytes, 'x')})) std::abort();
  return 0;
}
