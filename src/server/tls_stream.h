#pragma once

#include <asio/ip/tcp.hpp>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "core/asio_executor.h"
#include "wire/byte_stream.h"
#include "server/tls_session.h"
#include "server/transport_parameters.h"

namespace vistaro {

// A TLS-PSK session over TCP as a ByteStream. Never blocks its executor: the
// socket is non-blocking and GnuTLS's "try again" becomes an asynchronous wait.
// Created, used and dropped on its executor's thread.
class TlsStream final : public ByteStream, public std::enable_shared_from_this<TlsStream> {
 public:
  // An accepted connection; start() runs the server handshake. `relayedFrom` stands for the
  // socket's own peer when the connection was relayed in from elsewhere.
  static std::shared_ptr<TlsStream> accepted(AsioExecutor& executor, asio::ip::tcp::socket socket,
                                             TransportParameters parameters,
                                             std::optional<PeerAddress> relayedFrom = std::nullopt);
  // start() resolves the host, connects and runs the client handshake.
  static std::shared_ptr<TlsStream> connecting(AsioExecutor& executor, std::string host, uint16_t port,
                                               TransportParameters parameters);

  void start(StateHandler onState) override;
  void readExactly(size_t count, ReadHandler done) override;
  void write(std::shared_ptr<const Bytes> bytes, WriteHandler done) override;
  void cancel() override;
  PeerAddress peer() const override { return peer_; }

 private:
  enum class Phase { idle, connecting, handshaking, open, finished };
  using Step = void (TlsStream::*)();

  struct PendingRead {
    size_t count;
    size_t filled = 0;
    Bytes bytes;
    ReadHandler done;
  };
  struct PendingWrite {
    std::shared_ptr<const Bytes> bytes;
    size_t sent = 0;
    WriteHandler done;
  };

  TlsStream(AsioExecutor& executor, asio::ip::tcp::socket socket, TransportParameters parameters,
            TlsSession::Role role);

  void connect(std::string host, uint16_t port);
  void beginHandshake();
  void continueHandshake();
  void pumpRead();
  void pumpWrite();
  void waitUntil(asio::socket_base::wait_type wait, Step next, bool* waiting);
  void completeRead(std::error_code error, bool endOfStream);
  void finish(State state, std::error_code error);
  void report(State state, std::error_code error);

  AsioExecutor& executor_;
  asio::ip::tcp::socket socket_;
  TransportParameters parameters_;
  TlsSession::Role role_;
  PeerAddress peer_;
  std::unique_ptr<TlsSession> tls_;
  StateHandler onState_;
  Phase phase_ = Phase::idle;
  std::string pendingHost_;
  uint16_t pendingPort_ = 0;
  std::optional<PendingRead> read_;
  std::deque<PendingWrite> writes_;
  bool readWaiting_ = false;
  bool writeWaiting_ = false;
  bool handshakeWaiting_ = false;
};

}  // namespace vistaro
