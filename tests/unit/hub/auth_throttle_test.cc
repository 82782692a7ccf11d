#include <gtest/gtest.h>

#include "server/auth_throttle.h"

namespace vistaro {
namespace {

using namespace std::chrono_literals;

TimePoint at(Duration since) { return TimePoint{} + since; }

TEST(AuthThrottle, FreeFailuresThenHoldsThatDoubleAndExpire) {
  AuthThrottle throttle;
  for (int i = 1; i < 5; ++i) EXPECT_FALSE(throttle.recordFailure("a", at(0s)).heldFor) << i;
  EXPECT_TRUE(throttle.admits("a", at(0s)));
  EXPECT_EQ(throttle.recordFailure("a", at(0s)).heldFor, Duration(10s));
  EXPECT_FALSE(throttle.admits("a", at(9s)));
  EXPECT_TRUE(throttle.admits("b", at(9s)));  // nobody else is held
  EXPECT_TRUE(throttle.admits("a", at(10s)));
  EXPECT_EQ(throttle.recordFailure("a", at(10s)).heldFor, Duration(20s));
  EXPECT_EQ(throttle.recordFailure("a", at(30s)).heldFor, Duration(40s));
  EXPECT_EQ(throttle.heldSources(at(31s)), 1u);

  // Doubling stops at a day, and a source that stays quiet long enough is forgotten.
  AuthThrottle::Failure failure;
  for (int i = 0; i < 40; ++i) failure = throttle.recordFailure("a", at(100s));
  EXPECT_EQ(failure.heldFor, Duration(24h));
  EXPECT_FALSE(throttle.admits("a", at(100s + 23h)));
  EXPECT_TRUE(throttle.admits("a", at(100s + 24h + 6h + 1min)));
  EXPECT_FALSE(throttle.recordFailure("a", at(100s + 24h + 6h + 1min)).heldFor);
}

TEST(AuthThrottle, TheRightPinForgivesTheSource) {
  AuthThrottle throttle;
  for (int i = 0; i < 7; ++i) throttle.recordFailure("a", at(0s));
  throttle.recordSuccess("a");
  EXPECT_TRUE(throttle.admits("a", at(0s)));
  EXPECT_EQ(throttle.recordFailure("a", at(0s)).failures, 1);
}

TEST(AuthThrottle, GuessesSpreadOverManyAddressesGetOneEachOnceTheSharedAllowanceIsSpent) {
  AuthThrottle throttle;
  int heldAtFirstFailure = 0;
  for (int i = 0; i < 100; ++i) {
    if (throttle.recordFailure("10.0.0." + std::to_string(i), at(0s)).heldFor) ++heldAtFirstFailure;
  }
  EXPECT_EQ(heldAtFirstFailure, 100 - AuthThrottle::Policy{}.sharedFreeFailures);
  // The allowance comes back slowly.
  EXPECT_FALSE(throttle.recordFailure("10.0.1.1", at(3min)).heldFor);
  EXPECT_TRUE(throttle.recordFailure("10.0.1.2", at(3min)).heldFor);
}

// One source guessing as fast as the holds allow, forever: how long for every PIN?
TEST(AuthThrottle, OneSourceNeedsMoreThanAYearForEveryPin) {
  AuthThrottle throttle;
  TimePoint now{};
  int64_t tries = 0;
  const TimePoint end = now + 24h * 30;
  while (now < end) {
    if (throttle.admits("a", now)) {
      throttle.recordFailure("a", now);
      ++tries;
    }
    now += 1s;
  }
  const double perYear = static_cast<double>(tries) * 365 / 30;
  EXPECT_LT(perYear, 1'000'000 / 10);  // well over ten years for the whole space
}

TEST(AuthThrottle, AFullTableMakesRoomAndKeepsTheHeld) {
  AuthThrottle::Policy policy;
  policy.maxSources = 3;
  AuthThrottle throttle(policy);
  for (int i = 0; i < 5; ++i) throttle.recordFailure("held", at(0s));
  throttle.recordFailure("x", at(0s));
  throttle.recordFailure("y", at(1s));
  throttle.recordFailure("z", at(2s));  // x goes: it would be forgotten first
  EXPECT_FALSE(throttle.admits("held", at(3s)));
  EXPECT_EQ(throttle.recordFailure("x", at(3s)).failures, 1);
}

}  // namespace
}  // namespace vistaro
