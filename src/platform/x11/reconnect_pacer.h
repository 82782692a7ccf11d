#pragma once

#include <chrono>
#include <optional>

#include "core/executor.h"

namespace vistaro::x11 {

// When to try a lost display again: a restarted X server may be back at any moment, and
// each try is a socket connect, so at most one every interval.
class ReconnectPacer {
 public:
  static constexpr Duration kInterval = std::chrono::seconds(2);

  // True at most once per interval; the first call only starts the clock (a connection was just made).
  bool due() {
    const TimePoint now = Clock::now();
    if (last_ && now - *last_ < kInterval) return false;
    const bool first = !last_;
    last_ = now;
    return !first;
  }
  void connected() { last_ = Clock::now(); }

 private:
  std::optional<TimePoint> last_;
};

}  // namespace vistaro::x11
