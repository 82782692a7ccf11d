#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/executor.h"

namespace vistaro {

// Slows down online PIN guessing, per source (see PeerAddress). A source may fail a few
// times; from then on each failure turns its connections away for twice as long as the one
// before. All sources together have a small allowance of such free failures, so an attacker
// spreading guesses over many addresses gets one try per address before the holds begin.
// A source without failures is never held, so a client elsewhere is not shut out by an attack.
// Pure logic on the caller's clock; used on the hub queue.
class AuthThrottle {
 public:
  struct Policy {
    int freeFailures = 5;
    Duration firstHold = std::chrono::seconds(10);
    Duration longestHold = std::chrono::hours(24);
    // A source is forgotten this long after its last failure and its hold have passed.
    Duration memory = std::chrono::hours(6);
    int sharedFreeFailures = 20;
    Duration sharedRefill = std::chrono::minutes(3);  // one shared free failure comes back
    size_t maxSources = 4096;
  };

  struct Failure {
    int failures = 0;                 // of this source, this one included
    std::optional<Duration> heldFor;  // the hold this failure started
  };

  AuthThrottle() : AuthThrottle(Policy{}) {}
  explicit AuthThrottle(Policy policy);

  // False while the source is held off: its connections are closed unheard.
  bool admits(const std::string& source, TimePoint now);
  Failure recordFailure(const std::string& source, TimePoint now);
  // The source knows the PIN: its failures are forgiven.
  void recordSuccess(const std::string& source) { records_.erase(source); }
  size_t heldSources(TimePoint now) const;

 private:
  struct Record {
    int failures = 0;
    TimePoint lastFailure{};
    TimePoint heldUntil{};
    TimePoint forgetAt(Duration memory) const { return std::max(lastFailure, heldUntil) + memory; }
  };
  Duration holdAfter(int failures) const;
  void refillShared(TimePoint now);
  void forgetOld(TimePoint now);
  Record& recordOf(const std::string& source);

  Policy policy_;
  std::unordered_map<std::string, Record> records_;
  int sharedLeft_;
  TimePoint sharedRefilledAt_{};
  TimePoint nextSweep_{};
};

}  // namespace vistaro
