#include <gtest/gtest.h>

#include <deque>

#include "core/manual_executor.h"
#include "reach/knock_poller.h"

namespace vistaro {
namespace {

using std::chrono::seconds;

// The store on virtual time: what the next fetches return, and when they came.
class FakeRecordStore final : public RecordStore {
 public:
  explicit FakeRecordStore(ManualExecutor& clock) : clock_(clock) {}
  std::optional<RecordProblem> account;
  std::deque<FetchResult> replies;  // then: no knock
  std::vector<TimePoint> fetches, accountChecks;
  std::vector<Record> saved;

  std::optional<RecordProblem> checkAccount() override {
    accountChecks.push_back(clock_.now());
    return account;
  }
  FetchResult fetch(const std::string& name) override {
    EXPECT_EQ(name, "knock-0123");
    fetches.push_back(clock_.now());
    if (replies.empty()) return {std::nullopt, RecordProblem{.kind = RecordProblem::Kind::unknownItem}};
    FetchResult next = replies.front();
    replies.pop_front();
    return next;
  }
  std::optional<RecordProblem> save(const std::string& name, const Record& record) override {
    EXPECT_EQ(name, "answer-0123");
    saved.push_back(record);
    return std::nullopt;
  }

 private:
  ManualExecutor& clock_;
};

// Aged by the store's clock, or (no age) by its "at" against the wall clock at 1'000'000 s.
FetchResult knock(std::optional<std::string> nonce, std::optional<Duration> age, bool withClient = true,
                  std::optional<long> at = std::nullopt) {
  Record record;
  if (nonce) record.strings["nonce"] = *nonce;
  if (withClient) record.strings["client"] = "198.51.100.9:40000";
  record.age = age;
  if (at) record.at = WallClock::time_point(seconds(*at));
  return {record, std::nullopt};
}

FetchResult throttled(std::optional<Duration> retryAfter) {
  return {std::nullopt, RecordProblem{.kind = RecordProblem::Kind::throttled, .retryAfter = retryAfter}};
}

struct Poller : testing::Test {
  ManualExecutor executor;
  std::shared_ptr<FakeRecordStore> store = std::make_shared<FakeRecordStore>(executor);
  Duration asleep{};
  std::vector<std::string> knocks;
  std::vector<bool> accounts;
  std::shared_ptr<KnockPoller> poller;

  void start(std::optional<std::string> mac = "203.0.113.5:52526") {
    KnockPoller::Events events;
    events.account = [this](bool available, const std::string&) { accounts.push_back(available); };
    events.knock = [this, mac](const std::string& nonce, const std::string& client, KnockPoller::Answer answer) {
      knocks.push_back(nonce + " " + client);
      answer(mac);
    };
    poller = KnockPoller::create({.executor = executor, .store = store, .id = "0123",
                                  .wallClock = [] { return WallClock::time_point(seconds(1'000'000)); },
                                  .timeAsleep = [this] { return asleep; }},
                                 std::move(events));
    poller->start();
    executor.runUntilIdle();
  }
  // Seconds since start of each fetch.
  std::vector<long> fetchTimes() const {
    std::vector<long> out;
    for (TimePoint t : store->fetches) out.push_back(std::chrono::duration_cast<seconds>(t - TimePoint{}).count());
    return out;
  }
};

TEST_F(Poller, HandlesFreshNewKnocksOnceAndSavesTheAnswer) {
  store->replies = {knock("a", seconds(60)), knock("a", seconds(59)), knock("a", seconds(0)), knock("b", seconds(1), false),
                    knock(std::nullopt, seconds(1)), knock("c", std::nullopt), knock("c", std::nullopt, true, 1'000'000 - 60),
                    knock("c", std::nullopt, true, 1'000'000 - 59)};
  start();
  executor.advance(seconds(10));
  EXPECT_EQ(knocks, (std::vector<std::string>{"a 198.51.100.9:40000", "c 198.51.100.9:40000"}));
  ASSERT_EQ(store->saved.size(), 2u);
  const Record& answer = store->saved[0];
  EXPECT_EQ(answer.strings, (std::map<std::string, std::string>{{"type", "Answer"}, {"nonce", "a"}, {"mac", "203.0.113.5:52526"}}));
  EXPECT_EQ(answer.at, WallClock::time_point(seconds(1'000'000)));
}

TEST_F(Poller, PollsEverySecondForAMinuteAfterStartWakeOrKnockThenEveryFive) {
  start(std::nullopt);
  executor.advance(seconds(75));
  EXPECT_EQ(fetchTimes().size(), 61u + 3u);  // 0…60, then 65, 70, 75
  asleep += seconds(3600);                   // a suspend the monotonic clock did not count
  store->fetches.clear();
  executor.advance(seconds(10));
  EXPECT_EQ(fetchTimes(), (std::vector<long>{80, 81, 82, 83, 84, 85}));
  // A knock nobody could answer still hurries the loop, and nothing is saved.
  executor.advance(seconds(200));
  store->replies = {knock("z", seconds(0))};
  store->fetches.clear();
  executor.advance(seconds(10));
  EXPECT_EQ(fetchTimes(), (std::vector<long>{290, 291, 292, 293, 294, 295}));
  EXPECT_TRUE(store->saved.empty());
}

TEST_F(Poller, ThrottlingWaitsAsAskedOrThirtySeconds) {
  store->replies = {throttled(seconds(12)), throttled(std::nullopt), throttled(seconds(2))};
  start();
  executor.advance(seconds(50));
  EXPECT_EQ(fetchTimes(), (std::vector<long>{0, 12, 42, 44, 45, 46, 47, 48, 49, 50}));
}

TEST_F(Poller, UnavailableAccountWaitsThirtySecondsAndIsCheckedAtMostOnceAMinute) {
  store->account = RecordProblem{.kind = RecordProblem::Kind::accountUnavailable};
  start();
  executor.advance(seconds(45));
  EXPECT_TRUE(store->fetches.empty());
  EXPECT_EQ(accounts, (std::vector<bool>{false, false}));
  store->account.reset();
  executor.advance(seconds(15));  // checked at 60
  store->fetches.clear();
  executor.advance(seconds(130));
  EXPECT_EQ(store->accountChecks.size(), 5u);  // 0, 30, 60, 121, 182
  EXPECT_EQ(accounts.back(), true);
}

}  // namespace
}  // namespace vistaro
