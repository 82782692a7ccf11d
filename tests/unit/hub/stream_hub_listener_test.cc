#include <chrono>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using ListenerState = std::pair<std::string, std::optional<uint16_t>>;

class StreamHubListenerTest : public HubFixture {};

TEST_F(StreamHubListenerTest, ReadyOnPreferredPortIsReportedAndAdvertised) {
  ASSERT_EQ(listeners.started.size(), 1u);
  EXPECT_EQ(listeners.last().port, std::optional<uint16_t>(52525));
  EXPECT_EQ(listeners.last().pin, "123456");
  EXPECT_EQ(listenerStates, (std::vector<ListenerState>{{"待受中", 52525}}));
  EXPECT_EQ(advertiser.current, FakeServiceAdvertiser::Registration("Desk", 52525));
}

TEST_F(StreamHubListenerTest, TakenPreferredPortFallsBackToAnyPortSilently) {
  listeners.last().handlers.onFailed("Address already in use");
  queue.runUntilIdle();
  ASSERT_EQ(listeners.started.size(), 2u);
  EXPECT_TRUE(*listeners.started[0].cancelled);
  EXPECT_EQ(listeners.last().port, std::nullopt);
  EXPECT_EQ(listenerStates.size(), 1u);

  listeners.last().handlers.onReady(40123);
  EXPECT_EQ(listenerStates.back(), ListenerState("待受中", 40123));
  EXPECT_EQ(advertiser.current, FakeServiceAdvertiser::Registration("Desk", 40123));
}

TEST_F(StreamHubListenerTest, FailureOnAnyPortIsReportedWithdrawnAndRetriedAfterThreeSeconds) {
  listeners.last().handlers.onFailed("taken");
  listeners.last().handlers.onFailed("no ports left");
  EXPECT_EQ(listenerStates.back(), ListenerState("待受に失敗: no ports left", std::nullopt));
  EXPECT_EQ(advertiser.current, std::nullopt);
  EXPECT_TRUE(*listeners.last().cancelled);

  queue.advance(2999ms);
  EXPECT_EQ(listeners.started.size(), 2u);
  queue.advance(1ms);
  ASSERT_EQ(listeners.started.size(), 3u);
  EXPECT_EQ(listeners.last().port, std::optional<uint16_t>(52525));
}

TEST_F(StreamHubListenerTest, CreationErrorIsReportedAndNotRetried) {
  listeners.creationError = "no TLS";
  hub->setPin("654321");
  queue.runUntilIdle();
  EXPECT_EQ(listenerStates.back(), ListenerState("待受に失敗: no TLS", std::nullopt));
  queue.advance(60s);
  EXPECT_EQ(listeners.started.size(), 1u);
}

TEST_F(StreamHubListenerTest, NewPinRestartsTheListenerWhileClientsStay) {
  auto client = connectAuthed("Phone");
  auto stranger = connect();

  hub->setPin("123456");
  queue.runUntilIdle();
  EXPECT_EQ(listeners.started.size(), 1u);

  hub->setPin("999999");
  queue.runUntilIdle();
  ASSERT_EQ(listeners.started.size(), 2u);
  EXPECT_TRUE(*listeners.started[0].cancelled);
  EXPECT_EQ(listeners.last().pin, "999999");
  EXPECT_EQ(listeners.last().port, std::optional<uint16_t>(52525));
  EXPECT_FALSE(client->cancelled());
  EXPECT_FALSE(stranger->cancelled());
  EXPECT_EQ(hub->clientRecords().size(), 2u);

  // The old listener's late news changes nothing.
  listeners.started[0].handlers.onFailed("late");
  queue.runUntilIdle();
  EXPECT_EQ(listeners.started.size(), 2u);

  hub->setWelcome({.hostName = "desk"});
  queue.runUntilIdle();
  EXPECT_EQ(receivedBy(*client).back().type, MessageType::welcome);
}

TEST_F(StreamHubListenerTest, PinChangeDuringRetryWaitLeavesOneListener) {
  listeners.last().handlers.onFailed("taken");
  listeners.last().handlers.onFailed("none");
  hub->setPin("777777");
  queue.runUntilIdle();
  ASSERT_EQ(listeners.started.size(), 3u);
  queue.advance(10s);
  EXPECT_EQ(listeners.started.size(), 3u);
}

}  // namespace
}  // namespace vistaro::testing
