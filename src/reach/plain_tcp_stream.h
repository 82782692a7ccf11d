#pragma once

#include <asio/ip/tcp.hpp>
#include <deque>
#include <memory>
#include <optional>

#include "core/asio_executor.h"
#include "wire/byte_stream.h"

namespace vistaro {

// A TCP connection without TLS of its own as a ByteStream, for bytes that carry their own:
// the direct path's leg to the local listener. Made, used and dropped on its executor.
class PlainTcpStream final : public ByteStream, public std::enable_shared_from_this<PlainTcpStream> {
 public:
  // Bound at once (to the loopback address when the target is one), so that localPort() is
  // known before start() connects. Absent, with the error, when no socket can be had.
  static std::shared_ptr<PlainTcpStream> connecting(AsioExecutor& executor, const asio::ip::tcp::endpoint& to,
                                                    std::error_code& error);
  static std::shared_ptr<PlainTcpStream> accepted(AsioExecutor& executor, asio::ip::tcp::socket socket);

  uint16_t localPort() const { return localPort_; }

  void start(StateHandler onState) override;
  void readExactly(size_t count, ReadHandler done) override;
  void readSome(size_t most, ReadHandler done) override;
  void write(std::shared_ptr<const Bytes> bytes, WriteHandler done) override;
  void finishWriting(WriteHandler done) override;
  void cancel() override;
  PeerAddress peer() const override { return peer_; }

 private:
  struct PendingRead {
    size_t count;
    bool some;
    Bytes bytes;
    ReadHandler done;
  };
  struct PendingWrite {
    std::shared_ptr<const Bytes> bytes;  // none: the end of the sending half
    WriteHandler done;
  };

  PlainTcpStream(AsioExecutor& executor, asio::ip::tcp::socket socket);
  void opened();
  void readMore();
  void completeRead(std::error_code error, bool endOfStream);
  void enqueue(PendingWrite write);
  void writeNext();
  void finish(State state, std::error_code error);
  void report(State state, std::error_code error);

  AsioExecutor& executor_;
  asio::ip::tcp::socket socket_;
  std::optional<asio::ip::tcp::endpoint> connectTo_;
  uint16_t localPort_ = 0;
  PeerAddress peer_;
  StateHandler onState_;
  bool open_ = false;
  bool finished_ = false;
  std::optional<PendingRead> read_;
  bool reading_ = false;
  std::deque<PendingWrite> writes_;
  bool writing_ = false;
};

}  // namespace vistaro
