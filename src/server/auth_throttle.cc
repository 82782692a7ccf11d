#include "server/auth_throttle.h"

#include <algorithm>

namespace vistaro {

AuthThrottle::AuthThrottle(Policy policy) : policy_(policy), sharedLeft_(policy.sharedFreeFailures) {}

bool AuthThrottle::admits(const std::string& source, TimePoint now) {
  forgetOld(now);
  auto found = records_.find(source);
  return found == records_.end() || found->second.heldUntil <= now;
}

Duration AuthThrottle::holdAfter(int failures) const {
  if (failures < policy_.freeFailures) return Duration::zero();
  Duration hold = policy_.firstHold;
  // Doubled step by step: a shift by the failure count would overflow long before it is used.
  for (int i = policy_.freeFailures; i < failures && hold < policy_.longestHold; ++i) hold *= 2;
  return std::min(hold, policy_.longestHold);
}

void AuthThrottle::refillShared(TimePoint now) {
  if (sharedLeft_ >= policy_.sharedFreeFailures) {
    sharedRefilledAt_ = now;
    return;
  }
  const auto refills = (now - sharedRefilledAt_) / policy_.sharedRefill;
  if (refills <= 0) return;
  sharedLeft_ = static_cast<int>(std::min<int64_t>(policy_.sharedFreeFailures, sharedLeft_ + refills));
  sharedRefilledAt_ += refills * policy_.sharedRefill;
}

void AuthThrottle::forgetOld(TimePoint now) {
  if (now < nextSweep_) return;
  nextSweep_ = now + std::chrono::minutes(1);
  std::erase_if(records_, [&](const auto& entry) { return entry.second.forgetAt(policy_.memory) <= now; });
}

AuthThrottle::Record& AuthThrottle::recordOf(const std::string& source) {
  auto found = records_.find(source);
  if (found != records_.end()) return found->second;
  if (records_.size() >= policy_.maxSources) {
    // Full: the record closest to being forgotten anyway makes room.
    auto oldest = std::min_element(records_.begin(), records_.end(), [&](const auto& a, const auto& b) {
      return a.second.forgetAt(policy_.memory) < b.second.forgetAt(policy_.memory);
    });
    records_.erase(oldest);
  }
  return records_[source];
}

AuthThrottle::Failure AuthThrottle::recordFailure(const std::string& source, TimePoint now) {
  forgetOld(now);
  refillShared(now);
  Record& record = recordOf(source);
  record.failures += 1;
  record.lastFailure = now;
  if (record.failures < policy_.freeFailures) {
    if (sharedLeft_ > 0) {
      --sharedLeft_;
    } else {
      // Too many free failures everywhere at once: this source gets no more of them.
      record.failures = policy_.freeFailures;
    }
  }
  Failure failure{record.failures, std::nullopt};
  const Duration hold = holdAfter(record.failures);
  if (hold > Duration::zero()) {
    record.heldUntil = now + hold;
    failure.heldFor = hold;
  }
  return failure;
}

size_t AuthThrottle::heldSources(TimePoint now) const {
  return static_cast<size_t>(
      std::count_if(records_.begin(), records_.end(), [&](const auto& entry) { return entry.second.heldUntil > now; }));
}

}  // namespace vistaro
