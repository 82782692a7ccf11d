#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "core/geometry.h"
#include "wire/messages.h"

namespace vistaro {

// The desktop as the hub operates it for its clients. Called on the hub's queue; an
// implementation hops to wherever its work runs and answers on any thread.
class DesktopInput {
 public:
  using ClientID = uint64_t;

  virtual ~DesktopInput() = default;

  // Input may be injected at all (the accessibility permission).
  virtual bool trusted() = 0;
  // Posts the pointer events at once; false when not trusted (nothing posted).
  virtual bool pointer(const InputMessage& message) = 0;
  // The global point a pointer message designates; absent when its display is unknown.
  virtual std::optional<Point> displayPoint(const InputMessage& message) = 0;
  // Queues a client's keys for typing and returns; `refused` is called when the queue is full.
  virtual void keys(ClientID client, KeyMessage message, std::function<void()> refused) = 0;
  // The client has gone: its keys not typed yet are dropped.
  virtual void dropKeys(ClientID client) = 0;
  // Whether the focused element takes text, some time after a click at the point.
  virtual void checkFocusAfterClick(Point point, std::function<void(bool editable)> answer) = 0;
};

}  // namespace vistaro
