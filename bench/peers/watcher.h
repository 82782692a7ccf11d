#pragma once

#include <chrono>
#include <cstddef>

#include "support/threads.h"

namespace vistaro::peers {

using Clock = std::chrono::steady_clock;

// One update as the watching client received it.
struct Update {
  Clock::time_point at;
  size_t bytes = 0;      // on the wire, protocol framing included
  bool changed = false;  // it altered the picture the client holds
};

// A client pulling updates from one server, one request open at a time.
class Watcher {
 public:
  virtual ~Watcher() = default;
  // A key press and release of a lowercase letter, as the user of this client types it; when it went out.
  virtual Clock::time_point pressKey(char letter) = 0;

  testing::Mailbox<Update> updates;
};

}  // namespace vistaro::peers
