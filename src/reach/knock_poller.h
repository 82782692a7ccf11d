#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/executor.h"
#include "reach/record_store.h"

namespace vistaro {

// The host's half of the rendezvous: watches the store for a client's knock ("knock-ID"), has it
// answered, and writes the answer ("answer-ID"). Polls every 5 s, every second for 60 s after a
// start, a wake from sleep or a knock; checks the account at most once a minute. Runs on the
// store's own executor, where its blocking calls may wait.
class KnockPoller : public std::enable_shared_from_this<KnockPoller> {
 public:
  static constexpr Duration kAccountCheckInterval = std::chrono::seconds(60);
  static constexpr Duration kFastInterval = std::chrono::seconds(1);
  static constexpr Duration kSlowInterval = std::chrono::seconds(5);
  static constexpr Duration kFastPollWindow = std::chrono::seconds(60);
  static constexpr Duration kAccountRetry = std::chrono::seconds(30);
  static constexpr Duration kFreshness = std::chrono::seconds(60);
  static constexpr Duration kDefaultThrottleWait = std::chrono::seconds(30);

  // The host's public endpoints, joined by ","; absent: the knock stays unanswered.
  using Answer = std::function<void(std::optional<std::string> mac)>;
  struct Events {
    // After each account check: usable or not (and why).
    std::function<void(bool available, const std::string& problem)> account;
    std::function<void(const std::string& nonce, const std::string& client, Answer answer)> knock;
  };
  struct Dependencies {
    Executor& executor;
    std::shared_ptr<RecordStore> store;
    std::string id;
    std::function<WallClock::time_point()> wallClock = [] { return WallClock::now(); };
    // Grows while the machine is suspended: how a wake is noticed.
    std::function<Duration()> timeAsleep = defaultTimeAsleep;
  };

  static std::shared_ptr<KnockPoller> create(Dependencies dependencies, Events events);
  static Duration defaultTimeAsleep();

  void start();

 private:
  KnockPoller(Dependencies dependencies, Events events) : d_(std::move(dependencies)), events_(std::move(events)) {}
  void pass();
  void passAfter(Duration delay);
  bool fresh(const Record& knock) const;
  void answered(const std::string& nonce, std::optional<std::string> mac);
  void bumpFastPoll() { fastPollUntil_ = std::max(fastPollUntil_, d_.executor.now() + kFastPollWindow); }

  Dependencies d_;
  Events events_;
  std::optional<TimePoint> lastAccountCheck_;
  TimePoint fastPollUntil_{};
  Duration asleep_{};
  std::string lastNonce_;
  Cancellable nextPass_;
};

}  // namespace vistaro
