#include "server/framed_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "fakes/memory_stream.h"

namespace vistaro {
namespace {

using ::testing::ElementsAre;
using testing::MemoryStream;

Bytes prefix(uint32_t length, uint8_t code) {
  return {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), code};
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class FramedConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::tie(stream, peer) = MemoryStream::makePair(executor);
    connection = FramedConnection::create(stream, executor);
    connection->onReady = [this] { ++readyCount; };
    connection->onMessage = [this](MessageType type, Bytes body) { messages.emplace_back(type, std::move(body)); };
    connection->onClose = [this](std::optional<std::error_code> error) { closes.push_back(error); };
    connection->start();
    executor.runUntilIdle();
  }

  void arrive(const Bytes& bytes) {
    stream->injectBytes(bytes);
    executor.runUntilIdle();
  }

  ManualExecutor executor;
  std::shared_ptr<MemoryStream> stream;
  std::shared_ptr<MemoryStream> peer;
  std::shared_ptr<FramedConnection> connection;
  int readyCount = 0;
  std::vector<std::pair<MessageType, Bytes>> messages;
  std::vector<std::optional<std::error_code>> closes;
};

TEST_F(FramedConnectionTest, EmptyBodyMessageIsDeliveredWithoutABodyRead) {
  EXPECT_EQ(readyCount, 1);
  arrive({0, 0, 0, 1, 2});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, MessageType::request);
  EXPECT_TRUE(messages[0].second.empty());
  EXPECT_THAT(stream->readRequests(), ElementsAre(5, 5));
}

TEST_F(FramedConnectionTest, LargestAllowedBodyArrivesAsOneBuffer) {
  const size_t bodySize = FramedConnection::kMaxLength - 1;
  Bytes body(bodySize, 0xAB);
  body.back() = 0xCD;
  arrive(concat(prefix(FramedConnection::kMaxLength, 11), body));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, MessageType::frame);
  EXPECT_EQ(messages[0].second.size(), bodySize);
  EXPECT_EQ(messages[0].second.back(), 0xCD);
  EXPECT_THAT(stream->readRequests(), ElementsAre(5, bodySize, 5));
  EXPECT_TRUE(closes.empty());
}

TEST_F(FramedConnectionTest, TwoMessagesInOneSegmentArriveInOrder) {
  arrive(concat(concat(prefix(3, 1), {'{', '}'}), concat(prefix(2, 5), {'x'})));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], std::make_pair(MessageType::hello, Bytes{'{', '}'}));
  EXPECT_EQ(messages[1], std::make_pair(MessageType::key, Bytes{'x'}));
  EXPECT_EQ(stream->maxOutstandingReads(), 1u);
}

TEST_F(FramedConnectionTest, MessageSplitOverManySegmentsArrivesOnce) {
  const Bytes whole = concat(prefix(11, 13), Bytes(10, 7));
  for (uint8_t byte : whole) {
    EXPECT_TRUE(messages.empty());
    arrive({byte});
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].second, Bytes(10, 7));
}

TEST_F(FramedConnectionTest, NextReadWaitsUntilTheHandlerReturns) {
  connection->onMessage = [this](MessageType, Bytes) {
    messages.emplace_back();
    EXPECT_EQ(stream->readRequests().size(), messages.size()) << "a read was issued during onMessage";
  };
  arrive(concat(prefix(1, 2), prefix(1, 2)));
  EXPECT_EQ(messages.size(), 2u);
}

TEST_F(FramedConnectionTest, HandlerThatClosesStopsReading) {
  connection->onMessage = [this](MessageType, Bytes) { connection->close(); };
  arrive(concat(prefix(1, 2), prefix(1, 2)));
  EXPECT_THAT(stream->readRequests(), ElementsAre(5));
  EXPECT_EQ(closes.size(), 1u);
}

// Each bad prefix ends the connection quietly: no message, no error, nothing sent back.
TEST(FramedConnectionRejects, BadLengthsAndUnknownCodes) {
  const std::vector<Bytes> badPrefixes = {
      prefix(0, 1),  prefix(FramedConnection::kMaxLength + 1, 11), prefix(0xFFFFFFFF, 1),
      prefix(5, 9),  prefix(5, 0),                                 prefix(5, 14),
      prefix(5, 255),
  };
  for (const Bytes& bad : badPrefixes) {
    ManualExecutor executor;
    auto [stream, peer] = MemoryStream::makePair(executor);
    auto connection = FramedConnection::create(stream, executor);
    int messageCount = 0;
    std::vector<std::optional<std::error_code>> closes;
    connection->onMessage = [&](MessageType, Bytes) { ++messageCount; };
    connection->onClose = [&](std::optional<std::error_code> error) { closes.push_back(error); };
    connection->start();
    stream->injectBytes(concat(bad, Bytes(4, '{')));
    executor.runUntilIdle();
    SCOPED_TRACE(::testing::PrintToString(bad));
    EXPECT_EQ(messageCount, 0);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_FALSE(closes[0].has_value());
    EXPECT_THAT(stream->readRequests(), ElementsAre(5));
    EXPECT_TRUE(stream->cancelled());
    EXPECT_TRUE(peer->written().empty());
  }
}

TEST_F(FramedConnectionTest, EndOfStreamMidBodyClosesWithoutAMessage) {
  arrive(concat(prefix(10, 1), {'{', '"'}));
  stream->injectEndOfStream();
  executor.runUntilIdle();
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_FALSE(closes[0].has_value());
}

TEST_F(FramedConnectionTest, ReadErrorIsPassedToOnClose) {
  const auto reset = std::make_error_code(std::errc::connection_reset);
  stream->injectReadError(reset);
  executor.runUntilIdle();
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0], reset);
}

TEST_F(FramedConnectionTest, WaitingAndFailedStatesCloseWithTheirError) {
  const auto refused = std::make_error_code(std::errc::connection_refused);
  stream->injectState(ByteStream::State::waiting, refused);
  stream->injectState(ByteStream::State::failed, refused);
  executor.runUntilIdle();
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0], refused);
}

TEST_F(FramedConnectionTest, CancellingTheStreamEndsInOneQuietClose) {
  connection->cancelStream();
  connection->cancelStream();
  executor.runUntilIdle();
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_FALSE(closes[0].has_value());
  EXPECT_TRUE(connection->closed());
}

TEST_F(FramedConnectionTest, CloseIsIdempotentAndSilencesEverythingIncludingSends) {
  connection->close();
  connection->close(std::make_error_code(std::errc::io_error));
  stream->injectState(ByteStream::State::cancelled);
  stream->injectState(ByteStream::State::ready);
  arrive(concat(prefix(1, 2), prefix(1, 2)));
  bool sendCompleted = false;
  connection->send(MessageType::focus, {'{', '}'}, [&](std::error_code) { sendCompleted = true; });
  executor.runUntilIdle();
  EXPECT_EQ(closes.size(), 1u);
  EXPECT_EQ(readyCount, 1);
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(sendCompleted);
  EXPECT_EQ(stream->writeCount(), 0u);
}

// Clearing the callbacks is what breaks the owner <-> connection cycle.
TEST_F(FramedConnectionTest, CloseReleasesCallbacksAfterOnCloseInOrder) {
  std::vector<std::string> log;
  struct Probe {
    std::vector<std::string>* log = nullptr;
    std::string name;
    ~Probe() {
      if (log) log->push_back(name + " released");
    }
  };
  auto probe = [&](std::string name) {
    auto made = std::make_shared<Probe>();
    made->log = &log;
    made->name = std::move(name);
    return made;
  };
  connection->onClose = [&, p = probe("onClose")](std::optional<std::error_code>) { log.push_back("onClose"); };
  connection->onMessage = [p = probe("onMessage")](MessageType, Bytes) {};
  connection->onReady = [p = probe("onReady")] {};
  connection->close();
  EXPECT_THAT(log, ElementsAre("onClose", "onClose released", "onMessage released", "onReady released"));
}

TEST_F(FramedConnectionTest, OwnerMayDropTheConnectionInsideOnClose) {
  connection->onClose = [this](std::optional<std::error_code>) { connection.reset(); };
  std::weak_ptr<FramedConnection> weak = connection;
  stream->injectEndOfStream();
  executor.runUntilIdle();
  EXPECT_TRUE(weak.expired());
}

TEST_F(FramedConnectionTest, DroppedConnectionStopsReading) {
  connection.reset();
  arrive(concat(prefix(1, 2), prefix(1, 2)));
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(closes.empty());
  EXPECT_THAT(stream->readRequests(), ElementsAre(5));
}

TEST_F(FramedConnectionTest, SendWritesOneBufferWithPrefix) {
  const Bytes body(30, 'e');
  std::vector<std::error_code> completions;
  connection->send(MessageType::error, body, [&](std::error_code error) { completions.push_back(error); });
  executor.runUntilIdle();
  EXPECT_EQ(stream->written(), concat({0x00, 0x00, 0x00, 0x1F, 0x0C}, body));
  EXPECT_EQ(stream->writeCount(), 1u);
  EXPECT_THAT(completions, ElementsAre(std::error_code{}));

  connection->send(MessageType::request, {});
  executor.runUntilIdle();
  EXPECT_EQ(stream->writeCount(), 2u);
  EXPECT_EQ(stream->written().size(), 35u + 5u);
}

TEST_F(FramedConnectionTest, SendFailureGoesOnlyToTheCompletion) {
  const auto broken = std::make_error_code(std::errc::broken_pipe);
  stream->failWrites(broken);
  std::vector<std::error_code> completions;
  connection->send(MessageType::focus, {'{', '}'}, [&](std::error_code error) { completions.push_back(error); });
  executor.runUntilIdle();
  EXPECT_THAT(completions, ElementsAre(broken));
  EXPECT_FALSE(connection->closed());
  EXPECT_TRUE(closes.empty());
}

}  // namespace
}  // namespace vistaro
