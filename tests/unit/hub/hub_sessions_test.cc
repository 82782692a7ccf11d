// Sessions: the PIN handshake, what an authenticated client may do, and what a hostile one may not.
#include <fmt/format.h>

#include <chrono>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::vector<std::string>>;

const Received kPinError{MessageType::error, R"({"code":"auth","message":"PINが違います"})"};
const Received kInputError{MessageType::error,
                           R"({"code":"input","message":"Macで「アクセシビリティ」の許可が必要です（Vistaro Host をオン）"})"};

std::string click(const char* kind, double x, int display = 1) {
  return fmt::format(R"({{"kind":"{}","x":{},"y":0.5,"clickCount":1,"displayID":{}}})", kind, x, display);
}

class HubSessions : public HubFixture {
 protected:
  // The PIN error exactly one second after the hello, then the end.
  void expectPinErrorThenEnd(MemoryStream& stream) {
    queue.advance(999ms);
    EXPECT_FALSE(stream.cancelled());
    queue.advance(1ms);
    EXPECT_EQ(receivedBy(stream).back(), kPinError);
    queue.runUntilIdle();
    EXPECT_TRUE(stream.cancelled());
  }
};

TEST_F(HubSessions, OnlyTheExactPinWithinTenSecondsGetsIn) {
  auto silent = connect("192.0.2.30");
  queue.advance(9s);
  auto phone = connectAuthed("Phone", "", "192.0.2.31");
  queue.advance(999ms);
  EXPECT_FALSE(silent->cancelled());
  queue.advance(1ms);
  EXPECT_TRUE(silent->cancelled());
  int source = 10;
  for (const char* wrong : {"654321", "123456 ", "12345", ""}) {
    SCOPED_TRACE(wrong);
    auto stream = connect(fmt::format("192.0.2.{}", source++));
    send(*stream, MessageType::hello, hello(wrong, "Thief"));
    expectPinErrorThenEnd(*stream);
  }
  // A flood of wrong hellos: one error, one end, no pile of timers.
  auto flood = connect("192.0.2.20");
  const size_t pending = queue.pendingCount();
  for (int i = 0; i < 1000; ++i) send(*flood, MessageType::hello, hello("000000", "Thief"));
  EXPECT_LE(queue.pendingCount(), pending + 2);
  expectPinErrorThenEnd(*flood);
  // An authenticated client that says a wrong PIN goes too; an undecodable hello ends at once.
  send(*phone, MessageType::hello, hello("123457", "Phone"));
  expectPinErrorThenEnd(*phone);
  auto garbled = connect("192.0.2.21");
  send(*garbled, MessageType::hello, R"({"pin":"123456","name":"x"})");
  EXPECT_TRUE(garbled->cancelled() && receivedBy(*garbled).empty());
  // An empty host PIN matches nothing, not even an empty one.
  hub->setPin("");
  auto empty = connect("192.0.2.22");
  send(*empty, MessageType::hello, hello("", "Phone"));
  expectPinErrorThenEnd(*empty);
  EXPECT_EQ(names, (Names{{"Phone"}, {}}));
}

TEST_F(HubSessions, NamesWelcomeAndBroadcastsAreForTheAuthenticatedOnly) {
  auto b = connectAuthed("B");
  auto a = connectAuthed("A");
  auto twin = connectAuthed("B");
  auto stranger = connect();
  hub->setWelcome({.hostName = "desk", .displays = {{1, "Main", 1920, 1080}}, .current = 1});
  hub->broadcastError("capture", "画面収録の許可が必要です");
  queue.runUntilIdle();
  EXPECT_EQ(receivedBy(*a).back(), (Received{MessageType::error, R"({"code":"capture","message":"画面収録の許可が必要です"})"}));
  EXPECT_TRUE(receivedBy(*stranger).empty());
  send(*stranger, MessageType::hello, hello("123456", "C"));  // the stored welcome comes with the hello
  EXPECT_EQ(receivedBy(*stranger)[0].type, MessageType::welcome);
  a->injectEndOfStream();
  queue.runUntilIdle();
  send(*twin, MessageType::hello, hello("123456", "D"));  // a later hello refreshes the name
  EXPECT_EQ(names, (Names{{"B"}, {"A", "B"}, {"A", "B", "B"}, {"A", "B", "B", "C"}, {"B", "B", "C"}, {"B", "C", "D"}}));
}

TEST_F(HubSessions, ClientMessagesCountOnceAuthenticatedBadOnesAreIgnoredAndBrokenFramingEndsOnlyThatOne) {
  auto stranger = connect();
  auto phone = connectAuthed("Phone");
  for (MemoryStream* stream : {stranger.get(), phone.get()}) {
    send(*stream, MessageType::selectDisplay, R"({"id":7})");
    send(*stream, MessageType::input, click("scroll", 0.1));
    send(*stream, MessageType::key, R"({"text":"a","modifiers":[]})");
    send(*stream, MessageType::setHeadless, R"({"enabled":true})");
    send(*stream, MessageType::clientDisplay, R"({"pixelW":1170,"pixelH":2532,"textSize":"large","fillWindow":true})");
    send(*stream, MessageType::setFit, R"({"enabled":false})");
    send(*stream, MessageType::selectDisplay, R"({"id":-1})");
    send(*stream, MessageType::key, R"({"text":"a"})");
    send(*stream, MessageType::focus, R"({"editable":true})");
  }
  EXPECT_EQ(events, (std::vector<std::string>{"select 7", "headless true", "screen 1170x2532", "fit false"}));
  EXPECT_EQ(desktop.pointed.size(), 1u);
  EXPECT_EQ(desktop.typed.size(), 1u);
  EXPECT_TRUE(receivedBy(*phone).empty() && receivedBy(*stranger).empty());
  phone->injectBytes({0, 0, 0, 5, 9});
  queue.runUntilIdle();
  EXPECT_TRUE(phone->cancelled());
  EXPECT_FALSE(stranger->cancelled());
}

TEST_F(HubSessions, WithoutTrustInputIsRefusedWithTheInputErrorAndAPrompt) {
  auto stream = connectAuthed("Phone");
  desktop.isTrusted = false;
  send(*stream, MessageType::input, click("click", 0.5));
  send(*stream, MessageType::key, R"({"key":"return","modifiers":["cmd"]})");
  EXPECT_TRUE(desktop.pointed.empty() && desktop.typed.empty() && desktop.focusChecks.empty());
  EXPECT_EQ(events, (std::vector<std::string>{"prompt", "prompt"}));
  EXPECT_EQ(receivedBy(*stream), (std::vector<Received>{kInputError, kInputError}));
}

TEST_F(HubSessions, OnlyTheNewestClickOfALiveClientGetsItsFocusAnswer) {
  auto stream = connectAuthed("Phone");
  send(*stream, MessageType::input, click("click", 0.25));
  send(*stream, MessageType::input, click("click", 0.75));
  send(*stream, MessageType::input, click("rightClick", 0.5));
  send(*stream, MessageType::input, click("click", 0.5, 2));  // a display without a point
  ASSERT_EQ(desktop.focusChecks.size(), 2u);
  EXPECT_EQ(desktop.focusChecks[0].first, (Point{250, 250}));
  desktop.focusChecks[1].second(true);  // answers may come back in any order
  desktop.focusChecks[0].second(false);
  queue.runUntilIdle();
  EXPECT_EQ(receivedBy(*stream), (std::vector<Received>{{MessageType::focus, R"({"editable":true})"}}));
  auto other = connectAuthed("Tablet");
  send(*other, MessageType::input, click("click", 0.5));
  hub.reset();
  desktop.focusChecks.back().second(true);
  queue.runUntilIdle();
  EXPECT_TRUE(receivedBy(*other).empty());
}

TEST_F(HubSessions, AGuessingSourceIsHeldOffWhileOthersGetIn) {
  for (int i = 0; i < 4; ++i) send(*connect("198.51.100.7"), MessageType::hello, hello("000000", "Thief"));
  connect("198.51.100.7")->injectState(ByteStream::State::failed, make_error_code(StreamError::keyRejected));
  connect("198.51.100.9")->injectState(ByteStream::State::failed, std::make_error_code(std::errc::connection_reset));
  queue.advance(1s);
  EXPECT_EQ(authFailures.back(), (AuthFailures{5, "198.51.100.7", 1}));
  auto turnedAway = connect("198.51.100.7");
  EXPECT_TRUE(turnedAway->cancelled());
  EXPECT_FALSE(turnedAway->started());  // not even a handshake
  EXPECT_FALSE(connect("198.51.100.9")->cancelled());  // a reset is not a guess
  // Once the hold is over, the right PIN gets in and clears the source's record.
  queue.advance(10s);
  connectAuthed("Owner", "", "198.51.100.7");
  send(*connect("198.51.100.7"), MessageType::hello, hello("000000", "Thief"));
  EXPECT_FALSE(connect("198.51.100.7")->cancelled());
  EXPECT_EQ(names.back(), std::vector<std::string>{"Owner"});
}

TEST_F(HubSessions, PendingConnectionsAreCappedOldestFirstAndMayOnlySendAHello) {
  auto phone = connectAuthed("Phone", "", "192.0.2.50");
  std::vector<std::shared_ptr<MemoryStream>> flood;
  for (size_t i = 0; i < StreamHub::kMaxPendingPerSource + 1; ++i) flood.push_back(connect("192.0.2.66"));
  EXPECT_TRUE(flood[0]->cancelled());
  EXPECT_FALSE(flood[1]->cancelled());
  for (size_t i = 0; i < StreamHub::kMaxPending; ++i) connect(fmt::format("10.1.{}.{}", i / 200, i % 200));
  EXPECT_TRUE(flood[1]->cancelled());  // the oldest anywhere made way
  EXPECT_FALSE(phone->cancelled());

  auto stranger = connect();
  send(*stranger, MessageType::key, std::string(ClientSession::kMaxUnauthenticatedLength, ' '));
  EXPECT_TRUE(stranger->cancelled());
  const std::string longText(200'000, 'x');
  send(*phone, MessageType::key, R"({"text":")" + longText + R"(","modifiers":[]})");
  EXPECT_EQ(desktop.typed.at(0).text, longText);
}

TEST_F(HubSessions, KeysBeyondTheQueueAreRefusedAndAGoneClientsKeysDropped) {
  auto phone = connectAuthed("Phone");
  desktop.keyQueueFull = true;
  send(*phone, MessageType::key, R"({"key":"left","modifiers":[]})");
  ASSERT_EQ(receivedBy(*phone).size(), 1u);
  EXPECT_NE(receivedBy(*phone)[0].body.find(R"("code":"input")"), std::string::npos);
  EXPECT_TRUE(events.empty());  // a full queue is not a missing permission
  phone->injectEndOfStream();
  queue.runUntilIdle();
  EXPECT_EQ(desktop.droppedKeysOf.size(), 1u);
}

}  // namespace
}  // namespace vistaro::testing
