#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "fakes/wire/memory_stream.h"
#include "wire/framed_connection.h"

namespace vistaro::testing {
namespace {

using ::testing::ElementsAre;

Bytes prefix(uint32_t length, uint8_t code) {
  return {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), code};
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Framing : public ::testing::Test {
 protected:
  Framing() {
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
  std::shared_ptr<MemoryStream> stream, peer;
  std::shared_ptr<FramedConnection> connection;
  int readyCount = 0;
  std::vector<std::pair<MessageType, Bytes>> messages;
  std::vector<std::optional<std::error_code>> closes;
};

TEST_F(Framing, ReadsExactlyWhatEachMessageNeedsOneReadAtATime) {
  EXPECT_EQ(readyCount, 1);
  arrive({0, 0, 0, 1, 2});  // an empty request: no body read
  const size_t largest = FramedConnection::kMaxLength - 1;
  arrive(prefix(FramedConnection::kMaxLength, 11) + Bytes(largest, 0xAB));
  // Two in one segment, then one split over many.
  arrive(prefix(3, 1) + Bytes{'{', '}'} + prefix(2, 5) + Bytes{'x'});
  for (uint8_t byte : prefix(11, 13) + Bytes(10, 7)) arrive({byte});
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0], std::make_pair(MessageType::request, Bytes{}));
  EXPECT_EQ(messages[1].second.size(), largest);
  EXPECT_EQ(messages[2], std::make_pair(MessageType::hello, Bytes{'{', '}'}));
  EXPECT_EQ(messages[3], std::make_pair(MessageType::key, Bytes{'x'}));
  EXPECT_EQ(messages[4], std::make_pair(MessageType::focus, Bytes(10, 7)));
  EXPECT_THAT(std::vector<size_t>(stream->readRequests().begin(), stream->readRequests().begin() + 4),
              ElementsAre(5, 5, largest, 5));
  EXPECT_EQ(stream->maxOutstandingReads(), 1u);
  EXPECT_TRUE(closes.empty());
}

TEST_F(Framing, NextReadWaitsForTheHandlerAndAHandlerThatClosesStopsReading) {
  connection->onMessage = [this](MessageType, Bytes) {
    messages.emplace_back();
    EXPECT_EQ(stream->readRequests().size(), messages.size()) << "a read was issued during onMessage";
    if (messages.size() == 2) connection->close();
  };
  arrive(prefix(1, 2) + prefix(1, 2) + prefix(1, 2));
  EXPECT_EQ(messages.size(), 2u);
  EXPECT_EQ(closes.size(), 1u);
}

// Each ends the connection quietly: no message, no error, nothing sent back.
TEST(FramingRejects, BadPrefixesAndLengthsBeyondTheLimit) {
  struct Case {
    Bytes prefix;
    uint32_t limit = FramedConnection::kMaxLength;
  };
  for (const Case& bad : std::vector<Case>{{prefix(0, 1)},
                                           {prefix(FramedConnection::kMaxLength + 1, 11)},
                                           {prefix(0xFFFFFFFF, 1)},
                                           {prefix(5, 9)},
                                           {prefix(5, 0)},
                                           {prefix(5, 14)},
                                           {prefix(101, 1), 100}}) {
    SCOPED_TRACE(::testing::PrintToString(bad.prefix));
    ManualExecutor executor;
    auto [stream, peer] = MemoryStream::makePair(executor);
    auto connection = FramedConnection::create(stream, executor);
    connection->limitLength(bad.limit);
    int messageCount = 0;
    std::vector<std::optional<std::error_code>> closes;
    connection->onMessage = [&](MessageType, Bytes) { ++messageCount; };
    connection->onClose = [&](std::optional<std::error_code> error) { closes.push_back(error); };
    connection->start();
    stream->injectBytes(bad.prefix + Bytes(4, '{'));
    executor.runUntilIdle();
    EXPECT_EQ(messageCount, 0);
    EXPECT_THAT(closes, ElementsAre(std::nullopt));
    EXPECT_THAT(stream->readRequests(), ElementsAre(5));
    EXPECT_TRUE(stream->cancelled());
    EXPECT_TRUE(peer->written().empty());
  }
}

TEST_F(Framing, EndOfStreamMidBodyIsAQuietCloseAndAReadErrorIsPassedOn) {
  arrive(prefix(10, 1) + Bytes{'{', '"'});
  stream->injectEndOfStream();
  executor.runUntilIdle();
  EXPECT_TRUE(messages.empty());
  EXPECT_THAT(closes, ElementsAre(std::nullopt));

  auto [other, otherPeer] = MemoryStream::makePair(executor);
  auto framed = FramedConnection::create(other, executor);
  framed->onClose = [this](std::optional<std::error_code> error) { closes.push_back(error); };
  framed->start();
  other->injectReadError(std::make_error_code(std::errc::connection_reset));
  other->injectState(ByteStream::State::failed, std::make_error_code(std::errc::connection_reset));
  executor.runUntilIdle();
  EXPECT_THAT(closes, ElementsAre(std::nullopt, std::make_error_code(std::errc::connection_reset)));
}

TEST_F(Framing, CloseIsOnceSilencesEverythingAndReleasesTheCallbacks) {
  std::vector<std::string> log;
  auto probe = [&](std::string name) {
    return std::shared_ptr<void>(nullptr, [&log, name](void*) { log.push_back(name + " released"); });
  };
  connection->onClose = [&, p = probe("onClose")](std::optional<std::error_code>) { log.push_back("onClose"); };
  connection->onMessage = [p = probe("onMessage")](MessageType, Bytes) {};
  connection->cancelStream();
  connection->close(std::make_error_code(std::errc::io_error));
  stream->injectState(ByteStream::State::ready);
  arrive(prefix(1, 2));
  bool sendCompleted = false;
  connection->send(MessageType::focus, {'{', '}'}, [&](std::error_code) { sendCompleted = true; });
  executor.runUntilIdle();
  // Clearing the callbacks is what breaks the owner <-> connection cycle.
  EXPECT_THAT(log, ElementsAre("onClose", "onClose released", "onMessage released"));
  EXPECT_EQ(readyCount, 1);
  EXPECT_FALSE(sendCompleted);
  EXPECT_EQ(stream->writeCount(), 0u);
}

TEST_F(Framing, AnOwnerMayLetGoInsideOnClose) {
  connection->onClose = [this](std::optional<std::error_code>) { connection.reset(); };
  std::weak_ptr<FramedConnection> weak = connection;
  stream->injectEndOfStream();
  executor.runUntilIdle();
  EXPECT_TRUE(weak.expired());
}

TEST_F(Framing, SendWritesOneBufferWithItsPrefixAndReportsOnlyToTheCompletion) {
  std::vector<std::error_code> completions;
  connection->send(MessageType::error, Bytes(30, 'e'), [&](std::error_code error) { completions.push_back(error); });
  executor.runUntilIdle();
  EXPECT_EQ(stream->written(), Bytes({0x00, 0x00, 0x00, 0x1F, 0x0C}) + Bytes(30, 'e'));
  EXPECT_EQ(stream->writeCount(), 1u);

  const auto broken = std::make_error_code(std::errc::broken_pipe);
  stream->failWrites(broken);
  connection->send(MessageType::focus, {'{', '}'}, [&](std::error_code error) { completions.push_back(error); });
  executor.runUntilIdle();
  EXPECT_THAT(completions, ElementsAre(std::error_code{}, broken));
  EXPECT_FALSE(connection->closed());  // the stream's state, not a send, ends a connection
}

}  // namespace
}  // namespace vistaro::testing
