#include <chrono>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::vector<std::string>>;

class StreamHubHandshakeTest : public HubFixture {};

const std::string kPinError = R"({"code":"auth","message":"PINが違います"})";

void expectPinErrorThenEnd(ManualExecutor& queue, MemoryStream& stream) {
  queue.advance(999ms);
  EXPECT_TRUE(receivedBy(stream).empty());
  EXPECT_FALSE(stream.cancelled());
  queue.advance(1ms);
  const auto received = receivedBy(stream);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].type, MessageType::error);
  EXPECT_EQ(received[0].body, kPinError);
  queue.runUntilIdle();
  EXPECT_TRUE(stream.cancelled());
}

TEST_F(StreamHubHandshakeTest, SilentConnectionEndsAtTenSecondsAndLateAuthStays) {
  auto silent = connect();
  queue.advance(1s);
  auto late = connect();
  queue.advance(8s);
  send(*late, MessageType::hello, hello("123456", "Late"));
  queue.advance(999ms);
  EXPECT_FALSE(silent->cancelled());
  queue.advance(1ms);
  queue.runUntilIdle();
  EXPECT_TRUE(silent->cancelled());
  EXPECT_EQ(hub->clientRecords().size(), 1u);
  queue.advance(60s);
  EXPECT_FALSE(late->cancelled());
  EXPECT_TRUE(onlyClient().authed);
}

TEST_F(StreamHubHandshakeTest, WrongPinGetsTheAuthErrorAfterOneSecondThenTheEnd) {
  for (const char* wrong : {"654321", "123456 ", " 123456", "12345", ""}) {
    SCOPED_TRACE(wrong);
    auto stream = connect();
    send(*stream, MessageType::hello, hello(wrong, "Phone"));
    EXPECT_FALSE(onlyClient().authed);
    expectPinErrorThenEnd(queue, *stream);
    EXPECT_TRUE(hub->clientRecords().empty());
  }
  EXPECT_TRUE(reportedNames.empty());

  // An empty host PIN matches nothing, not even an empty one.
  hub->setPin("");
  queue.runUntilIdle();
  auto stream = connect("192.0.2.2");  // the first source has used up its free failures
  send(*stream, MessageType::hello, hello("", "Phone"));
  expectPinErrorThenEnd(queue, *stream);
}

TEST_F(StreamHubHandshakeTest, FloodOfWrongHellosGivesOneErrorAndOneEnd) {
  auto stream = connect();
  auto bystander = connectAuthed("Other");
  for (int i = 0; i < 1000; ++i) send(*stream, MessageType::hello, hello("000000", "Phone"));
  EXPECT_LE(queue.pendingCount(), 4u);
  expectPinErrorThenEnd(queue, *stream);
  EXPECT_FALSE(bystander->cancelled());
}

TEST_F(StreamHubHandshakeTest, UndecodableHelloEndsTheConnectionAtOnceWithoutAnswer) {
  for (const char* body : {"{", R"({"pin":"123456","name":"x"})", R"({"pin":123456,"name":"x","version":1})"}) {
    SCOPED_TRACE(body);
    auto stream = connect();
    send(*stream, MessageType::hello, body);
    EXPECT_TRUE(stream->cancelled());
    queue.advance(2s);
    EXPECT_TRUE(receivedBy(*stream).empty());
  }
  EXPECT_TRUE(hub->clientRecords().empty());
}

TEST_F(StreamHubHandshakeTest, AuthenticatedClientWithWrongHelloIsEndedToo) {
  auto stream = connectAuthed("Phone");
  send(*stream, MessageType::hello, hello("123457", "Phone"));
  expectPinErrorThenEnd(queue, *stream);
  EXPECT_EQ(reportedNames.back(), std::vector<std::string>{});
}

TEST_F(StreamHubHandshakeTest, HelloRecordsNameAndPatchFeatureAndRepeatsRefresh) {
  auto stream = connectAuthed("Phone", "patch");
  EXPECT_EQ(onlyClient().name, "Phone");
  EXPECT_TRUE(onlyClient().patches);
  send(*stream, MessageType::hello, hello("123456", "Tablet", "zoom"));
  EXPECT_EQ(onlyClient().name, "Tablet");
  EXPECT_FALSE(onlyClient().patches);
  EXPECT_EQ(reportedNames, (Names{{"Phone"}, {"Tablet"}}));
}

TEST_F(StreamHubHandshakeTest, NamesAreSortedAndReportedOnAuthAndAuthedDisconnectOnly) {
  auto b = connectAuthed("B");
  auto a = connectAuthed("A");
  auto twin = connectAuthed("B");
  auto stranger = connect();
  EXPECT_EQ(reportedNames, (Names{{"B"}, {"A", "B"}, {"A", "B", "B"}}));

  stranger->injectEndOfStream();
  queue.runUntilIdle();
  EXPECT_EQ(reportedNames.size(), 3u);

  a->injectEndOfStream();
  queue.runUntilIdle();
  EXPECT_EQ(reportedNames.back(), (std::vector<std::string>{"B", "B"}));
  EXPECT_EQ(reportedNames.size(), 4u);
}

TEST_F(StreamHubHandshakeTest, WelcomeIsStoredUntilAClientAuthenticates) {
  auto stranger = connect();
  hub->setWelcome({.hostName = "desk", .displays = {{1, "Main", 1920, 1080}}, .current = 1});
  queue.runUntilIdle();
  EXPECT_TRUE(receivedBy(*stranger).empty());

  send(*stranger, MessageType::hello, hello("123456", "Phone"));
  const auto received = receivedBy(*stranger);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].type, MessageType::welcome);
  EXPECT_EQ(decodeMessage<WelcomeMessage>(Bytes(received[0].body.begin(), received[0].body.end()))->hostName,
            "desk");
}

TEST_F(StreamHubHandshakeTest, BroadcastsReachAuthenticatedClientsOnly) {
  auto authed = connectAuthed("Phone");
  auto stranger = connect();
  hub->setWelcome({.hostName = "desk"});
  hub->broadcastError("capture", "画面収録の許可が必要です");
  queue.runUntilIdle();
  EXPECT_TRUE(receivedBy(*stranger).empty());
  const auto received = receivedBy(*authed);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].type, MessageType::welcome);
  EXPECT_EQ(received[1].type, MessageType::error);
  EXPECT_EQ(received[1].body, R"({"code":"capture","message":"画面収録の許可が必要です"})");
}

}  // namespace
}  // namespace vistaro::testing
