#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>
#include <functional>

#include "core/executor.h"
#include "wire/byte_stream.h"

namespace vistaro::testing {

// One end of an in-memory pipe. What one end writes arrives at the other as
// one delivery; tests can also inject deliveries, end of stream, read errors
// and state changes. Every callback is posted to the executor.
class MemoryStream final : public ByteStream, public std::enable_shared_from_this<MemoryStream> {
 public:
  static std::pair<std::shared_ptr<MemoryStream>, std::shared_ptr<MemoryStream>> makePair(Executor& executor);
  explicit MemoryStream(Executor& executor) : executor_(executor) {}

  void start(StateHandler onState) override;
  void readExactly(size_t count, ReadHandler done) override;
  void readSome(size_t most, ReadHandler done) override;
  void write(std::shared_ptr<const Bytes> bytes, WriteHandler done) override;
  // The peer end sees the end of the stream after what was written; done as a write's is.
  void finishWriting(WriteHandler done) override;
  void cancel() override;
  PeerAddress peer() const override { return peer_; }
  void setPeer(PeerAddress peer) { peer_ = std::move(peer); }

  // As if the peer's bytes arrived as one segment.
  void injectBytes(Bytes bytes);
  // The peer finished sending: reads drain what arrived, then see end of stream.
  void injectEndOfStream();
  // The next read fails with this error.
  void injectReadError(std::error_code error);
  void injectState(State state, std::error_code error = {});
  // Writes complete with this error (and go nowhere) from now on.
  void failWrites(std::error_code error) { writeError_ = error; }
  // Writes are taken but not reported done until released, as with a slow network.
  void holdWrites() { holdWrites_ = true; }
  void releaseWrites();

  const Bytes& written() const { return written_; }
  size_t writeCount() const { return writeCount_; }
  const std::vector<size_t>& readRequests() const { return readRequests_; }
  size_t maxOutstandingReads() const { return maxOutstandingReads_; }
  bool started() const { return static_cast<bool>(onState_); }
  bool cancelled() const { return cancelled_; }
  bool writingFinished() const { return writingFinished_; }

 private:
  struct PendingRead {
    size_t count;
    ReadHandler done;
    bool some = false;
  };
  void enqueueRead(size_t count, ReadHandler done, bool some);
  void serveRead();
  void completeWrite(std::error_code error, WriteHandler done);

  Executor& executor_;
  std::weak_ptr<MemoryStream> peerEnd_;
  PeerAddress peer_{"192.0.2.1", "192.0.2.1"};
  StateHandler onState_;
  std::deque<uint8_t> incoming_;
  std::optional<PendingRead> pendingRead_;
  std::error_code readError_;
  std::error_code writeError_;
  bool endOfStream_ = false;
  bool cancelled_ = false;
  bool writingFinished_ = false;
  bool holdWrites_ = false;
  std::vector<std::function<void()>> heldCompletions_;
  Bytes written_;
  size_t writeCount_ = 0;
  std::vector<size_t> readRequests_;
  size_t maxOutstandingReads_ = 0;
};

}  // namespace vistaro::testing
