#pragma once

#include <ngtcp2/ngtcp2.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "core/executor.h"
#include "wire/byte_stream.h"

namespace vistaro::quic {

class QuicConnection;

// One bidirectional QUIC stream as a ByteStream. A write is done once QUIC has taken all of it
// into packets, within the peer's flow-control window, so a slow peer slows the writer; its
// bytes are kept until acknowledged. What arrives waits here and the window opens as it is
// read, so a slow reader slows the peer. Lives on its connection's executor.
class QuicStream final : public ByteStream, public std::enable_shared_from_this<QuicStream> {
 public:
  QuicStream(Executor& executor, std::weak_ptr<QuicConnection> connection, int64_t id, PeerAddress peer)
      : executor_(executor), connection_(std::move(connection)), id_(id), peer_(std::move(peer)) {}

  int64_t id() const { return id_; }

  void start(StateHandler onState) override;
  void readExactly(size_t count, ReadHandler done) override;
  void readSome(size_t most, ReadHandler done) override;
  void write(std::shared_ptr<const Bytes> bytes, WriteHandler done) override;
  // Done once the peer has acknowledged every byte.
  void finishWriting(WriteHandler done) override;
  void cancel() override;
  PeerAddress peer() const override { return peer_; }

  // From the connection.
  void received(const uint8_t* data, size_t size, bool fin);
  void acked(uint64_t offset, uint64_t length);
  void peerReset();
  void peerStopped();
  void ended(std::error_code error);
  // What QUIC may take next: up to `capacity` pieces; `fin` when the end goes with them.
  size_t unsent(ngtcp2_vec* vecs, size_t capacity, bool& fin) const;
  void sent(size_t bytes, bool fin);
  bool hasUnsent() const { return sentOffset_ < writtenOffset_ || (finishing_ && !finSent_); }

 private:
  struct PendingRead {
    size_t count;
    bool some;
    ReadHandler done;
  };
  struct Outgoing {
    std::shared_ptr<const Bytes> bytes;
    uint64_t begin;  // the stream offset of its first byte
    WriteHandler done;
  };

  void serveRead();
  void completeWrites();
  void fail(State state, std::error_code error);
  void post(std::function<void()> task);

  Executor& executor_;
  std::weak_ptr<QuicConnection> connection_;
  const int64_t id_;
  const PeerAddress peer_;
  StateHandler onState_;
  bool finished_ = false;

  Bytes incoming_;
  size_t readAt_ = 0;
  bool finReceived_ = false;
  std::error_code readError_;
  std::optional<PendingRead> read_;

  std::deque<Outgoing> outgoing_;  // from the oldest unacknowledged write on
  uint64_t writtenOffset_ = 0;
  uint64_t sentOffset_ = 0;
  uint64_t ackedOffset_ = 0;
  bool finishing_ = false;
  bool finSent_ = false;
  WriteHandler finishDone_;
  std::error_code writeError_;
};

}  // namespace vistaro::quic
