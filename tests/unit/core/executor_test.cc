#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

#include "core/asio_executor.h"
#include "core/manual_executor.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

TEST(ManualExecutor, RunsDueTasksInTimeThenPostingOrder) {
  ManualExecutor executor;
  std::vector<int> order;
  executor.postAfter(2s, [&] { order.push_back(3); });
  executor.post([&] { order.push_back(1); });
  executor.postAfter(1s, [&] {
    order.push_back(2);
    executor.post([&] { order.push_back(25); });  // due at once, before the 2 s task
  });

  EXPECT_EQ(executor.runUntilIdle(), 1u);
  EXPECT_EQ(executor.advance(999ms), 0u);
  executor.advance(1ms);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 25}));
  executor.advance(1s);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 25, 3}));
  EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST(ManualExecutor, TasksSeeTheirOwnDueTime) {
  ManualExecutor executor;
  const TimePoint start = executor.now();
  TimePoint seen{};
  executor.postAfter(10s, [&] { seen = executor.now(); });
  executor.advance(15s);
  EXPECT_EQ(seen - start, 10s);
  EXPECT_EQ(executor.now() - start, 15s);
}

TEST(ManualExecutor, CancelledAndReplacedWorkNeverRuns) {
  ManualExecutor executor;
  int runs = 0;
  auto handle = executor.postAfter(1s, [&] { ++runs; });
  handle.cancel();
  DelayedWork debounce;
  debounce.schedule(executor, 1s, [&] { runs += 10; });
  debounce.schedule(executor, 2s, [&] { runs += 100; });
  executor.advance(5s);
  EXPECT_EQ(runs, 100);
}

TEST(AsioExecutor, RunsSeriallyOnItsOwnNamedThread) {
  AsioExecutor executor("velmora.hub-and-more");
  std::promise<std::string> name;
  executor.post([&] {
    char buffer[32] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    EXPECT_TRUE(executor.isCurrent());
    name.set_value(buffer);
  });
  EXPECT_EQ(name.get_future().get(), "velmora.hub-and");
  EXPECT_FALSE(executor.isCurrent());
}

TEST(AsioExecutor, CancelledTimerDoesNotFire) {
  AsioExecutor executor("test.timer");
  std::atomic<int> fired{0};
  auto handle = executor.postAfter(50ms, [&] { fired += 1; });
  handle.cancel();
  std::promise<void> later;
  executor.postAfter(100ms, [&] { later.set_value(); });
  later.get_future().wait();
  EXPECT_EQ(fired.load(), 0);
}

}  // namespace
}  // namespace vistaro
