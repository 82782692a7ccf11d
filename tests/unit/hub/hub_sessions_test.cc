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
  void expectPinErrorThenEnd(MemoryStream& stream) {
    queue.advance(999ms);
    EXPECT_TRUE(receivedBy(stream).empty());
    queue.advance(1ms);
    EXPECT_EQ(receivedBy(stream), std::vector<Received>{kPinError});
    queue.runUntilIdle();
    EXPECT_TRUE(stream.cancelled());
  }
  void sendEveryClientType(MemoryStream& stream) {
    send(stream, MessageType::request, R"({"detailMaxW":800,"detailMaxH":600,"baseMaxW":1200})");
    send(stream, MessageType::selectDisplay, R"({"id":7})");
    send(stream, MessageType::input, click("scroll", 0.1));
    send(stream, MessageType::key, R"({"text":"a","modifiers":[]})");
    send(stream, MessageType::setHeadless, R"({"enabled":true})");
    send(stream, MessageType::clientDisplay, R"({"pixelW":1170,"pixelH":2532,"textSize":"large","fillWindow":true})");
    send(stream, MessageType::setFit, R"({"enabled":false})");
  }
};

TEST_F(HubSessions, SilentConnectionEndsAtTenSecondsAndLateAuthStays) {
  auto silent = connect();
  queue.advance(1s);
  auto late = connect();
  queue.advance(8s);
  send(*late, MessageType::hello, hello("123456", "Late"));
  queue.advance(999ms);
  EXPECT_FALSE(silent->cancelled());
  queue.advance(1ms);
  EXPECT_TRUE(silent->cancelled());
  queue.advance(60s);
  EXPECT_FALSE(late->cancelled());
  EXPECT_EQ(names, (Names{{"Late"}}));
}

TEST_F(HubSessions, WrongPinsGetTheAuthErrorAfterOneSecondThenTheEnd) {
  int source = 10;
  for (const char* wrong : {"654321", "123456 ", " 123456", "12345", ""}) {
    SCOPED_TRACE(wrong);
    auto stream = connect(fmt::format("192.0.2.{}", source++));
    send(*stream, MessageType::hello, hello(wrong, "Phone"));
    expectPinErrorThenEnd(*stream);
  }
  // A flood of wrong hellos: one error, one end, no pile of timers; others are untouched.
  auto flood = connect("192.0.2.20");
  auto bystander = connectAuthed("Other", "", "192.0.2.21");
  const size_t pending = queue.pendingCount();
  for (int i = 0; i < 1000; ++i) send(*flood, MessageType::hello, hello("000000", "Phone"));
  EXPECT_LE(queue.pendingCount(), pending + 2);
  expectPinErrorThenEnd(*flood);
  // An authenticated client that says a wrong PIN goes too.
  send(*bystander, MessageType::hello, hello("123457", "Other"));
  receivedBy(*bystander);
  queue.advance(1s);
  queue.runUntilIdle();
  EXPECT_TRUE(bystander->cancelled());
  EXPECT_EQ(names, (Names{{"Other"}, {}}));

  // An empty host PIN matches nothing, not even an empty one.
  hub->setPin("");
  auto empty = connect("192.0.2.22");
  send(*empty, MessageType::hello, hello("", "Phone"));
  expectPinErrorThenEnd(*empty);
}

TEST_F(HubSessions, UndecodableHelloEndsTheConnectionAtOnceWithoutAnswer) {
  for (const char* body : {"{", R"({"pin":"123456","name":"x"})", R"({"pin":123456,"name":"x","version":1})"}) {
    auto stream = connect();
    send(*stream, MessageType::hello, body);
    EXPECT_TRUE(stream->cancelled()) << body;
    queue.advance(2s);
    EXPECT_TRUE(receivedBy(*stream).empty());
  }
  EXPECT_TRUE(names.empty());
}

TEST_F(HubSessions, NamesAreSortedAndReportedForAuthenticatedClientsOnly) {
  auto b = connectAuthed("B");
  auto a = connectAuthed("A");
  auto twin = connectAuthed("B");
  auto stranger = connect();
  stranger->injectEndOfStream();
  queue.runUntilIdle();
  a->injectEndOfStream();
  queue.runUntilIdle();
  send(*twin, MessageType::hello, hello("123456", "C"));  // a later hello refreshes the name
  EXPECT_EQ(names, (Names{{"B"}, {"A", "B"}, {"A", "B", "B"}, {"B", "B"}, {"B", "C"}}));
}

TEST_F(HubSessions, WelcomeWaitsForAuthenticationAndBroadcastsReachOnlyTheAuthenticated) {
  auto stranger = connect();
  auto authed = connectAuthed("Phone");
  hub->setWelcome({.hostName = "desk", .displays = {{1, "Main", 1920, 1080}}, .current = 1});
  hub->broadcastError("capture", "画面収録の許可が必要です");
  queue.runUntilIdle();
  EXPECT_TRUE(receivedBy(*stranger).empty());
  EXPECT_EQ(receivedBy(*authed)[1], (Received{MessageType::error, R"({"code":"capture","message":"画面収録の許可が必要です"})"}));
  send(*stranger, MessageType::hello, hello("123456", "Tablet"));
  const auto received = receivedBy(*stranger);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(decodeMessage<WelcomeMessage>(Bytes(received[0].body.begin(), received[0].body.end()))->hostName, "desk");
}

TEST_F(HubSessions, ClientMessagesCountOnlyOnceAuthenticatedAndBadBodiesAreIgnored) {
  auto stranger = connect();
  sendEveryClientType(*stranger);
  EXPECT_TRUE(events.empty() && desktop.pointed.empty() && desktop.typed.empty());

  auto phone = connectAuthed("Phone");
  sendEveryClientType(*phone);
  EXPECT_EQ(events, (std::vector<std::string>{"select 7", "headless true", "screen 1170x2532", "fit false"}));
  ASSERT_EQ(desktop.pointed.size(), 1u);
  EXPECT_EQ(desktop.typed.size(), 1u);

  events.clear();
  for (auto [type, body] : std::vector<std::pair<MessageType, std::string>>{
           {MessageType::selectDisplay, R"({"id":-1})"},
           {MessageType::input, R"({"kind":"drag","x":0,"y":0,"clickCount":1,"displayID":1})"},
           {MessageType::key, R"({"text":"a"})"},
           {MessageType::setFit, ""},
           {MessageType::welcome, R"({"hostName":"x","displays":[],"current":1})"},
           {MessageType::focus, R"({"editable":true})"}}) {
    send(*phone, type, body);
  }
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(phone->cancelled());
  EXPECT_TRUE(receivedBy(*phone).empty() && receivedBy(*stranger).empty());

  // Broken framing ends only that connection.
  phone->injectBytes({0, 0, 0, 5, 9});
  queue.runUntilIdle();
  EXPECT_TRUE(phone->cancelled());
}

TEST_F(HubSessions, WithoutTrustPointerAndKeysGetTheInputErrorAndNoEffect) {
  auto stream = connectAuthed("Phone");
  desktop.isTrusted = false;
  send(*stream, MessageType::input, click("click", 0.5));
  send(*stream, MessageType::key, R"({"key":"return","modifiers":["cmd"]})");
  EXPECT_TRUE(desktop.pointed.empty() && desktop.typed.empty() && desktop.focusChecks.empty());
  EXPECT_EQ(events, (std::vector<std::string>{"prompt", "prompt"}));
  EXPECT_EQ(receivedBy(*stream), (std::vector<Received>{kInputError, kInputError}));
  EXPECT_FALSE(stream->cancelled());
}

TEST_F(HubSessions, OnlyTheNewestClickOfALiveClientGetsItsFocusAnswer) {
  auto stream = connectAuthed("Phone");
  send(*stream, MessageType::input, click("click", 0.25));
  send(*stream, MessageType::input, click("click", 0.75));
  send(*stream, MessageType::input, click("rightClick", 0.5));
  send(*stream, MessageType::input, click("click", 0.5, 2));  // a display without a point
  ASSERT_EQ(desktop.focusChecks.size(), 2u);
  EXPECT_EQ(desktop.focusChecks[0].first, (Point{250, 250}));
  // Answers may come back in any order.
  desktop.focusChecks[1].second(true);
  desktop.focusChecks[0].second(false);
  queue.runUntilIdle();
  EXPECT_EQ(receivedBy(*stream), (std::vector<Received>{{MessageType::focus, R"({"editable":true})"}}));

  send(*stream, MessageType::input, click("click", 0.5));
  stream->injectEndOfStream();
  queue.runUntilIdle();
  desktop.focusChecks.back().second(true);
  auto other = connectAuthed("Tablet");
  send(*other, MessageType::input, click("click", 0.5));
  hub.reset();
  desktop.focusChecks.back().second(true);
  queue.runUntilIdle();
  EXPECT_TRUE(receivedBy(*other).empty());
  EXPECT_EQ(receivedBy(*stream).size(), 1u);
}

TEST_F(HubSessions, GuessingSourceIsHeldOffWhileOthersGetIn) {
  for (int i = 0; i < 5; ++i) send(*connect("198.51.100.7"), MessageType::hello, hello("000000", "Thief"));
  queue.advance(1s);
  ASSERT_FALSE(authFailures.empty());
  EXPECT_EQ(authFailures.back(), (AuthFailures{5, "198.51.100.7", 1}));
  auto turnedAway = connect("198.51.100.7");
  EXPECT_TRUE(turnedAway->cancelled());
  EXPECT_FALSE(turnedAway->started());  // not even a handshake
  connectAuthed("Phone", "", "198.51.100.8");
  EXPECT_EQ(names.back(), std::vector<std::string>{"Phone"});

  // Once the hold is over, the right PIN gets in and clears the source's record.
  queue.advance(10s);
  connectAuthed("Owner", "", "198.51.100.7");
  EXPECT_EQ(names.back(), (std::vector<std::string>{"Owner", "Phone"}));
  send(*connect("198.51.100.7"), MessageType::hello, hello("000000", "Thief"));
  EXPECT_FALSE(connect("198.51.100.7")->cancelled());
}

TEST_F(HubSessions, RejectedTlsKeysCountOtherEndsDoNot) {
  for (int i = 0; i < 5; ++i) {
    connect("203.0.113.5")->injectState(ByteStream::State::failed, make_error_code(StreamError::keyRejected));
    connect("203.0.113.6")->injectState(ByteStream::State::failed, std::make_error_code(std::errc::connection_reset));
    queue.runUntilIdle();
  }
  EXPECT_TRUE(connect("203.0.113.5")->cancelled());
  EXPECT_FALSE(connect("203.0.113.6")->cancelled());
}

TEST_F(HubSessions, PendingConnectionsAreCappedOldestFirstAndAuthenticatedOnesStay) {
  auto phone = connectAuthed("Phone", "", "192.0.2.50");
  std::vector<std::shared_ptr<MemoryStream>> flood;
  for (size_t i = 0; i < StreamHub::kMaxPendingPerSource + 2; ++i) flood.push_back(connect("192.0.2.66"));
  EXPECT_TRUE(flood[0]->cancelled() && flood[1]->cancelled());
  EXPECT_FALSE(flood[2]->cancelled());
  for (size_t i = 0; i < StreamHub::kMaxPending; ++i) connect(fmt::format("10.1.{}.{}", i / 200, i % 200));
  EXPECT_TRUE(flood[2]->cancelled());  // the oldest anywhere made way
  connectAuthed("Tablet", "", "192.0.2.99");
  EXPECT_EQ(names.back(), (std::vector<std::string>{"Phone", "Tablet"}));
  EXPECT_FALSE(phone->cancelled());
}

TEST_F(HubSessions, OnlyAHelloSizedMessageBeforeAuthenticationAnyAfter) {
  auto stranger = connect();
  send(*stranger, MessageType::key, std::string(ClientSession::kMaxUnauthenticatedLength, ' '));
  EXPECT_TRUE(stranger->cancelled());
  auto phone = connectAuthed("Phone");
  const std::string longText(200'000, 'x');
  send(*phone, MessageType::key, R"({"text":")" + longText + R"(","modifiers":[]})");
  EXPECT_FALSE(phone->cancelled());
  ASSERT_EQ(desktop.typed.size(), 1u);
  EXPECT_EQ(desktop.typed[0].text, longText);
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
