#pragma once

#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// Clears what the keyboard has locked or latched (Caps Lock, Num Lock, a sticky Shift) for
// the events sent while it lives and puts it back afterwards: injected input means exactly
// the modifiers it names. The requests travel in order with the events on the events'
// connection, so applications see the events without those modifiers and nothing else. The
// state is read on `stateFrom` (default: the events' connection), which must not be held back.
class LockedModifiersLifted {
 public:
  explicit LockedModifiersLifted(const Connection& events, const Connection* stateFrom = nullptr);
  ~LockedModifiersLifted();
  LockedModifiersLifted(const LockedModifiersLifted&) = delete;
  LockedModifiersLifted& operator=(const LockedModifiersLifted&) = delete;

 private:
  const Connection& events_;
  unsigned locked_ = 0;
  unsigned latched_ = 0;
};

}  // namespace vistaro::x11
