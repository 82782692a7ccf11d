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

// Bounds, close-once and delivered sizes under arbitrary bytes are the fuzz target's; these are
// the rules of the framing itself.
class Framing : public ::testing::Test {
 protected:
  Framing() { start(); }
  void start(uint32_t limit = FramedConnection::kMaxLength) {
    std::tie(stream, peer) = MemoryStream::makePair(executor);
    connection = FramedConnection::create(stream, executor);
    connection->limitLength(limit);
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
  std::vector<std::pair<MessageType, Bytes>> messages;
  std::vector<std::optional<std::error_code>> closes;
};

TEST_F(Framing, ReadsExactlyWhatEachMessageNeedsOneReadAtATime) {
  arrive({0, 0, 0, 1, 2});  // an empty request: no body read
  const size_t largest = FramedConnection::kMaxLength - 1;
  arrive(prefix(FramedConnection::kMaxLength, 11) + Bytes(largest, 0xAB));
  arrive(prefix(3, 1) + Bytes{'{', '}'} + prefix(2, 5) + Bytes{'x'});  // two in one segment
  for (uint8_t byte : prefix(11, 13) + Bytes(10, 7)) arrive({byte});  // one split over many
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0], std::make_pair(MessageType::request, Bytes{}));
  EXPECT_EQ(messages[1].second.size(), largest);
  EXPECT_EQ(messages[3], std::make_pair(MessageType::key, Bytes{'x'}));
  EXPECT_EQ(messages[4], std::make_pair(MessageType::focus, Bytes(10, 7)));
  EXPECT_THAT(std::vector<size_t>(stream->readRequests().begin(), stream->readRequests().begin() + 3),
              ElementsAre(5, 5, largest));
  EXPECT_EQ(stream->maxOutstandingReads(), 1u);
  // The next read waits for the handler, and a handler that closes stops the reading.
  connection->onMessage = [this](MessageType, Bytes) { connection->close(); };
  const size_t reads = stream->readRequests().size();
  arrive(prefix(1, 2) + prefix(1, 2));
  EXPECT_EQ(stream->readRequests().size(), reads);
  EXPECT_EQ(closes.size(), 1u);
}

TEST_F(Framing, BadPrefixesAndLengthsBeyondTheLimitEndTheConnectionQuietly) {
  for (const auto& [bad, limit] : std::vector<std::pair<Bytes, uint32_t>>{
           {prefix(0, 1), FramedConnection::kMaxLength},
           {prefix(FramedConnection::kMaxLength + 1, 11), FramedConnection::kMaxLength},
           {prefix(5, 9), FramedConnection::kMaxLength},
           {prefix(5, 14), FramedConnection::kMaxLength},
           {prefix(101, 1), 100}}) {
    SCOPED_TRACE(::testing::PrintToString(bad));
    messages.clear();
    closes.clear();
    start(limit);
    arrive(bad + Bytes(4, '{'));
    EXPECT_TRUE(messages.empty());
    EXPECT_THAT(closes, ElementsAre(std::nullopt));
    EXPECT_TRUE(stream->cancelled());
    EXPECT_TRUE(peer->written().empty());
  }
}

TEST_F(Framing, EndsCloseOnceWithTheirErrorAndReleaseTheCallbacks) {
  arrive(prefix(10, 1) + Bytes{'{', '"'});
  const auto reset = std::make_error_code(std::errc::connection_reset);
  stream->injectReadError(reset);
  stream->injectState(ByteStream::State::failed, reset);
  executor.runUntilIdle();
  EXPECT_TRUE(messages.empty());
  EXPECT_THAT(closes, ElementsAre(reset));

  // Clearing the callbacks is what breaks the owner <-> connection cycle.
  start();
  std::vector<std::string> log;
  auto probe = [&](std::string name) {
    return std::shared_ptr<void>(nullptr, [&log, name](void*) { log.push_back(name + " released"); });
  };
  connection->onClose = [&, p = probe("onClose")](std::optional<std::error_code>) { log.push_back("onClose"); };
  connection->onMessage = [p = probe("onMessage")](MessageType, Bytes) {};
  connection->cancelStream();
  connection->close(std::make_error_code(std::errc::io_error));
  bool sendCompleted = false;
  connection->send(MessageType::focus, {'{', '}'}, [&](std::error_code) { sendCompleted = true; });
  executor.runUntilIdle();
  EXPECT_THAT(log, ElementsAre("onClose", "onClose released", "onMessage released"));
  EXPECT_FALSE(sendCompleted);
  EXPECT_EQ(stream->writeCount(), 0u);
}

TEST_F(Framing, SendWritesOneBufferWithItsPrefixAndReportsOnlyToTheCompletion) {
  std::vector<std::error_code> completions;
  connection->send(MessageType::error, Bytes(30, 'e'), [&](std::error_code error) { completions.push_back(error); });
  executor.runUntilIdle();
  EXPECT_EQ(stream->written(), Bytes({0x00, 0x00, 0x00, 0x1F, 0x0C}) + Bytes(30, 'e'));
  const auto broken = std::make_error_code(std::errc::broken_pipe);
  stream->failWrites(broken);
  connection->send(MessageType::focus, {'{', '}'}, [&](std::error_code error) { completions.push_back(error); });
  executor.runUntilIdle();
  EXPECT_THAT(completions, ElementsAre(std::error_code{}, broken));
  EXPECT_FALSE(connection->closed());  // the stream's state, not a send, ends a connection
}

}  // namespace
}  // namespace vistaro::testing
