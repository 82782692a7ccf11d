#include "reach/knock_poller.h"

#include <time.h>

#include "core/log.h"

namespace vistaro {
namespace {

constexpr char kCategory[] = "direct";
// More time asleep than this between two passes was a suspend, not a late timer.
constexpr Duration kSleepNoticed = std::chrono::seconds(2);

double seconds(Duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

std::shared_ptr<KnockPoller> KnockPoller::create(Dependencies dependencies, Events events) {
  return std::shared_ptr<KnockPoller>(new KnockPoller(std::move(dependencies), std::move(events)));
}

Duration KnockPoller::defaultTimeAsleep() {
  timespec boot{}, monotonic{};
  clock_gettime(CLOCK_BOOTTIME, &boot);
  clock_gettime(CLOCK_MONOTONIC, &monotonic);
  return std::chrono::seconds(boot.tv_sec - monotonic.tv_sec) + std::chrono::nanoseconds(boot.tv_nsec - monotonic.tv_nsec);
}

void KnockPoller::start() {
  d_.executor.post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->asleep_ = self->d_.timeAsleep();
    self->bumpFastPoll();
    self->pass();
  });
}

void KnockPoller::passAfter(Duration delay) {
  nextPass_.cancel();
  nextPass_ = d_.executor.postAfter(delay, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->pass();
  });
}

void KnockPoller::pass() {
  const TimePoint now = d_.executor.now();
  if (const Duration asleep = d_.timeAsleep(); asleep - asleep_ > kSleepNoticed) bumpFastPoll();
  asleep_ = d_.timeAsleep();
  if (!lastAccountCheck_ || now - *lastAccountCheck_ > kAccountCheckInterval) {
    if (auto problem = d_.store->checkAccount()) {
      events_.account(false, problem->description);
      return passAfter(kAccountRetry);
    }
    lastAccountCheck_ = now;
    events_.account(true, {});
  }
  Duration interval = now < fastPollUntil_ ? kFastInterval : kSlowInterval;
  FetchResult fetched = d_.store->fetch("knock-" + d_.id);
  if (fetched.record && fresh(*fetched.record)) {
    const std::string nonce = fetched.record->strings["nonce"];
    bumpFastPoll();
    lastNonce_ = nonce;
    return events_.knock(nonce, fetched.record->strings["client"],
                         [weak = weak_from_this(), nonce](std::optional<std::string> mac) {
                           if (auto self = weak.lock()) {
                             self->d_.executor.post([weak, nonce, mac = std::move(mac)]() mutable {
                               if (auto self = weak.lock()) self->answered(nonce, std::move(mac));
                             });
                           }
                         });
  }
  if (fetched.problem && fetched.problem->kind == RecordProblem::Kind::throttled) {
    interval = std::max(interval, fetched.problem->retryAfter.value_or(kDefaultThrottleWait));
    logInfo(kCategory, "knock poll throttled for {:f} s", seconds(interval));
  } else if (fetched.problem && fetched.problem->kind == RecordProblem::Kind::accountUnavailable) {
    // Signed out since the last check: look again at the next pass.
    lastAccountCheck_.reset();
  }
  passAfter(interval);
}

bool KnockPoller::fresh(const Record& knock) const {
  const auto nonce = knock.strings.find("nonce");
  if (nonce == knock.strings.end() || !knock.strings.count("client") || nonce->second == lastNonce_) return false;
  // The store's own clock when it has one; the writer's "at" only when it has not.
  std::optional<Duration> age = knock.age;
  if (!age && knock.at) age = std::chrono::duration_cast<Duration>(d_.wallClock() - *knock.at);
  return age && *age < kFreshness;
}

void KnockPoller::answered(const std::string& nonce, std::optional<std::string> mac) {
  if (mac) {
    Record answer{.strings = {{"type", "Answer"}, {"nonce", nonce}, {"mac", *mac}}, .at = d_.wallClock(), .age = {}};
    if (auto problem = d_.store->save("answer-" + d_.id, answer)) {
      logWarning(kCategory, "answer failed: {}", problem->description);
    } else {
      logInfo(kCategory, "answered with {}", *mac);
    }
  }
  passAfter(kFastInterval);
}

}  // namespace vistaro
