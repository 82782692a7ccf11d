// What keeps a hostile network from guessing the PIN or wearing the host down.
#include <chrono>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;

class StreamHubProtectionTest : public HubFixture {
 protected:
  void failPin(const std::string& from) {
    auto stream = connect(from);
    send(*stream, MessageType::hello, hello("000000", "Thief"));
  }
};

TEST_F(StreamHubProtectionTest, GuessingSourceIsHeldOffWhileOthersGetIn) {
  for (int i = 0; i < 5; ++i) failPin("198.51.100.7");
  queue.advance(1s);
  ASSERT_FALSE(authFailures.empty());
  EXPECT_EQ(authFailures.back().count, 5u);
  EXPECT_EQ(authFailures.back().lastAddress, "198.51.100.7");
  EXPECT_EQ(authFailures.back().heldSources, 1u);

  auto turnedAway = connect("198.51.100.7");
  EXPECT_TRUE(turnedAway->cancelled());
  EXPECT_FALSE(turnedAway->started());  // not even a handshake
  auto elsewhere = connect("198.51.100.8");
  send(*elsewhere, MessageType::hello, hello("123456", "Phone"));
  EXPECT_EQ(reportedNames.back(), std::vector<std::string>{"Phone"});

  // Once the hold is over, the right PIN gets in and the source's record is cleared.
  queue.advance(10s);
  auto owner = connect("198.51.100.7");
  send(*owner, MessageType::hello, hello("123456", "Owner"));
  EXPECT_EQ(reportedNames.back(), (std::vector<std::string>{"Owner", "Phone"}));
  failPin("198.51.100.7");
  EXPECT_FALSE(connect("198.51.100.7")->cancelled());
}

TEST_F(StreamHubProtectionTest, RejectedTlsKeysCountOtherEndsDoNot) {
  for (int i = 0; i < 5; ++i) {
    auto stream = connect("203.0.113.5");
    stream->injectState(ByteStream::State::failed, make_error_code(StreamError::keyRejected));
    auto other = connect("203.0.113.6");
    other->injectState(ByteStream::State::failed, std::make_error_code(std::errc::connection_reset));
    queue.runUntilIdle();
  }
  EXPECT_TRUE(connect("203.0.113.5")->cancelled());
  EXPECT_FALSE(connect("203.0.113.6")->cancelled());
  queue.advance(1s);
  EXPECT_EQ(authFailures.back().count, 5u);
}

TEST_F(StreamHubProtectionTest, PendingConnectionsAreCappedOldestFirstAndAuthenticatedOnesStay) {
  auto phone = connectAuthed("Phone", "", "192.0.2.50");
  std::vector<std::shared_ptr<MemoryStream>> flood;
  for (size_t i = 0; i < StreamHub::kMaxPendingPerSource + 2; ++i) flood.push_back(connect("192.0.2.66"));
  EXPECT_TRUE(flood[0]->cancelled());
  EXPECT_TRUE(flood[1]->cancelled());
  EXPECT_FALSE(flood[2]->cancelled());

  // Many sources: the oldest pending connection anywhere makes way for the newest.
  std::vector<std::shared_ptr<MemoryStream>> spread;
  for (size_t i = 0; i < StreamHub::kMaxPending; ++i) spread.push_back(connect("10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200)));
  EXPECT_TRUE(flood[2]->cancelled());
  auto newcomer = connect("192.0.2.99");
  send(*newcomer, MessageType::hello, hello("123456", "Tablet"));
  EXPECT_EQ(reportedNames.back(), (std::vector<std::string>{"Phone", "Tablet"}));
  EXPECT_FALSE(phone->cancelled());
}

TEST_F(StreamHubProtectionTest, OnlyAHelloSizedMessageBeforeAuthentication) {
  auto stranger = connect();
  send(*stranger, MessageType::key, std::string(StreamHub::kMaxUnauthenticatedLength, ' '));
  EXPECT_TRUE(stranger->cancelled());

  auto phone = connectAuthed("Phone");
  const std::string longText(200'000, 'x');
  send(*phone, MessageType::key, R"({"text":")" + longText + R"(","modifiers":[]})");
  mainQueue.runUntilIdle();
  EXPECT_FALSE(phone->cancelled());
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].text, longText);
}

TEST_F(StreamHubProtectionTest, KeysBeyondTheQueueAreRefusedAndAGoneClientsKeysDropped) {
  auto phone = connectAuthed("Phone");
  keyQueueFull = true;
  send(*phone, MessageType::key, R"({"key":"left","modifiers":[]})");
  mainQueue.runUntilIdle();
  queue.runUntilIdle();
  const auto received = receivedBy(*phone);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].type, MessageType::error);
  EXPECT_NE(received[0].body.find(R"("code":"input")"), std::string::npos);
  EXPECT_EQ(permissionPrompts, 0);  // a full queue is not a missing permission

  const uint64_t id = onlyClient().id;
  phone->injectEndOfStream();
  queue.runUntilIdle();
  mainQueue.runUntilIdle();
  EXPECT_EQ(droppedKeysOf, std::vector<uint64_t>{id});
}

}  // namespace
}  // namespace vistaro::testing
