#include <chrono>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using ListenerState = std::pair<std::string, std::optional<uint16_t>>;
using Registration = FakeServiceAdvertiser::Registration;

class HubListener : public HubFixture {};

TEST_F(HubListener, PreferredPortThenAnyPortSilentlyThenRetriesEveryThreeSeconds) {
  EXPECT_EQ(listeners.last().port, std::optional<uint16_t>(52525));
  EXPECT_EQ(listeners.last().pin, "123456");
  EXPECT_EQ(listenerStates, (std::vector<ListenerState>{{"待受中", 52525}}));
  EXPECT_EQ(advertiser.current, Registration("Desk", 52525));

  listeners.last().handlers.onFailed("Address already in use");
  queue.runUntilIdle();
  EXPECT_TRUE(*listeners.started[0].cancelled);
  EXPECT_EQ(listeners.last().port, std::nullopt);
  EXPECT_EQ(listenerStates.size(), 1u);  // the fallback is silent
  listeners.last().handlers.onReady(40123);
  EXPECT_EQ(advertiser.current, Registration("Desk", 40123));

  listeners.last().handlers.onFailed("no ports left");
  EXPECT_EQ(listenerStates.back(), ListenerState("待受に失敗: no ports left", std::nullopt));
  EXPECT_EQ(advertiser.current, std::nullopt);
  queue.advance(2999ms);
  EXPECT_EQ(listeners.started.size(), 2u);
  queue.advance(1ms);
  ASSERT_EQ(listeners.started.size(), 3u);
  EXPECT_EQ(listeners.last().port, std::optional<uint16_t>(52525));
}

TEST_F(HubListener, NewPinRestartsTheListenerWhileClientsStay) {
  auto client = connectAuthed("Phone");
  auto stranger = connect();
  hub->setPin("123456");  // the same: nothing
  queue.runUntilIdle();
  EXPECT_EQ(listeners.started.size(), 1u);

  hub->setPin("999999");
  queue.runUntilIdle();
  ASSERT_EQ(listeners.started.size(), 2u);
  EXPECT_TRUE(*listeners.started[0].cancelled);
  EXPECT_EQ(listeners.last().pin, "999999");
  EXPECT_EQ(listeners.last().port, std::optional<uint16_t>(52525));
  EXPECT_FALSE(client->cancelled() || stranger->cancelled());
  // The old listener's late news changes nothing; the clients still get what is broadcast.
  listeners.started[0].handlers.onFailed("late");
  hub->setWelcome({.hostName = "desk"});
  queue.runUntilIdle();
  EXPECT_EQ(listeners.started.size(), 2u);
  EXPECT_EQ(receivedBy(*client).back().type, MessageType::welcome);
}

TEST_F(HubListener, CreationErrorIsNotRetriedAndAPinChangeDuringARetryWaitLeavesOneListener) {
  listeners.last().handlers.onFailed("taken");
  listeners.last().handlers.onFailed("none");
  hub->setPin("777777");
  queue.runUntilIdle();
  ASSERT_EQ(listeners.started.size(), 3u);
  queue.advance(10s);
  EXPECT_EQ(listeners.started.size(), 3u);

  listeners.creationError = "no TLS";
  hub->setPin("654321");
  queue.runUntilIdle();
  EXPECT_EQ(listenerStates.back(), ListenerState("待受に失敗: no TLS", std::nullopt));
  queue.advance(60s);
  EXPECT_EQ(listeners.started.size(), 3u);
}

}  // namespace
}  // namespace vistaro::testing
