#pragma once

#include <functional>
#include <optional>

#include "core/geometry.h"
#include "server/messages.h"

namespace vistaro {

// How the hub reaches the desktop. The controller wires the real injectors;
// tests wire fakes. A message whose work needs an unset function has no
// effect: no injection, no error to the client, no focus answer.
struct HubInput {
  // Runs on the hub executor; false means the process may not inject (not trusted).
  std::function<bool(const InputMessage&)> injectPointerInput;
  // The global point the message refers to; absent when its display is unknown.
  std::function<std::optional<Point>(const InputMessage&)> displayPoint;
  // The accessibility-trust query, asked before a key message is handed on.
  std::function<bool()> isInputTrusted;
  // Queues the client's key message for typing; false when the queue is full. The hub runs
  // it on the main executor and does not wait.
  std::function<bool(uint64_t client, const KeyMessage&)> enqueueKey;
  // The client has gone: what it queued and was not typed yet is dropped. On the main executor.
  std::function<void(uint64_t client)> dropKeys;
  // Checks the focused element after a click at the point; answers on any thread.
  std::function<void(Point, std::function<void(bool editable)>)> checkFocusAfterClick;
};

}  // namespace vistaro
