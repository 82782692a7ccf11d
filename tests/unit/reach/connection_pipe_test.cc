// The pipe between two in-memory streams on virtual time.
#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "fakes/wire/memory_stream.h"
#include "reach/connection_pipe.h"

namespace vistaro {
namespace {

using testing::MemoryStream;

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

// Side a is the client's, side b the hub's.
struct Joined {
  Joined() {
    pipe = ConnectionPipe::create(a, b, queue);
    pipe->onClose = [this] { ++closes; };
    pipe->onFirstData = [this] { ++firstData; };
    pipe->start();
    queue.runUntilIdle();
  }

  ManualExecutor queue;
  std::shared_ptr<MemoryStream> a = std::make_shared<MemoryStream>(queue);
  std::shared_ptr<MemoryStream> b = std::make_shared<MemoryStream>(queue);
  std::shared_ptr<ConnectionPipe> pipe;
  int closes = 0;
  int firstData = 0;
};

TEST(ConnectionPipe, CarriesBytesBothWaysUnchangedInReadsOfAtMost256KiB) {
  Joined j;
  Bytes large(600 * 1024);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
  j.a->injectBytes(large);
  j.b->injectBytes(text("welcome"));
  j.queue.runUntilIdle();
  EXPECT_EQ(j.b->written(), large);
  EXPECT_EQ(j.a->written(), text("welcome"));
  EXPECT_GE(j.b->writeCount(), 3u);
  for (const auto* side : {j.a.get(), j.b.get()}) {
    for (size_t request : side->readRequests()) EXPECT_EQ(request, ConnectionPipe::kMaxRead);
  }
  EXPECT_EQ(j.closes, 0);
}

TEST(ConnectionPipe, TheSideThatEndsFirstHasItsLastBytesDeliveredBeforeBothAreCancelled) {
  struct Case {
    const char* name;
    bool hubEnds;
  };
  for (const Case& test : {Case{"hub", true}, Case{"client", false}}) {
    Joined fresh;
    MemoryStream& ending = test.hubEnds ? *fresh.b : *fresh.a;
    MemoryStream& other = test.hubEnds ? *fresh.a : *fresh.b;
    other.holdWrites();
    ending.injectBytes(text("auth error"));
    ending.injectEndOfStream();
    fresh.queue.runUntilIdle();
    EXPECT_EQ(other.written(), text("auth error")) << test.name;
    EXPECT_FALSE(other.writingFinished()) << test.name << ": the end went before the bytes were taken";
    other.releaseWrites();
    fresh.queue.runUntilIdle();
    EXPECT_TRUE(other.writingFinished()) << test.name;
    EXPECT_TRUE(fresh.a->cancelled() && fresh.b->cancelled()) << test.name;
    EXPECT_EQ(fresh.closes, 1) << test.name;
  }
}

TEST(ConnectionPipe, ClosesOnceWhateverEndsIt) {
  Joined j;
  j.a->injectState(ByteStream::State::failed, std::make_error_code(std::errc::connection_reset));
  j.b->injectReadError(std::make_error_code(std::errc::connection_reset));
  j.pipe->close();
  j.queue.runUntilIdle();
  EXPECT_TRUE(j.a->cancelled() && j.b->cancelled());
  EXPECT_FALSE(j.a->writingFinished() || j.b->writingFinished());
  EXPECT_EQ(j.closes, 1);
}

TEST(ConnectionPipe, AStalledSideStopsReadingFromItsPeer) {
  Joined j;
  j.b->holdWrites();
  for (int chunk = 0; chunk < 5; ++chunk) j.a->injectBytes(Bytes(100 * 1024, 1));
  j.queue.runUntilIdle();
  const size_t readsWhileStalled = j.a->readRequests().size();
  EXPECT_EQ(readsWhileStalled, 1u) << "read on while the hub had not taken the last chunk";
  EXPECT_EQ(j.b->writeCount(), 1u);
  j.b->releaseWrites();
  j.queue.runUntilIdle();
  EXPECT_EQ(j.b->written().size(), 500u * 1024);
  EXPECT_EQ(j.a->maxOutstandingReads(), 1u);
}

TEST(ConnectionPipe, FirstDataIsReportedOnceAndOnlyFromTheHubSide) {
  Joined j;
  j.a->injectBytes(text("hello"));
  j.queue.runUntilIdle();
  EXPECT_EQ(j.firstData, 0);
  j.b->injectBytes(text("welcome"));
  j.queue.runUntilIdle();
  j.b->injectBytes(text("frame"));
  j.queue.runUntilIdle();
  EXPECT_EQ(j.firstData, 1);
}

}  // namespace
}  // namespace vistaro
