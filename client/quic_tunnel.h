#pragma once

#include <asio/ip/tcp.hpp>

#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "core/asio_executor.h"
#include "reach/connection_pipe.h"
#include "reach/plain_tcp_stream.h"
#include "reach/quic/quic_client.h"

namespace vistaro::client {

// The direct path from the client's side: the TLS session with the host runs over a QUIC
// stream. The client's ordinary connection reaches it as TCP to a loopback port of this
// process, accepted once and piped to the stream, so every command works the same either way.
class QuicTunnel : public std::enable_shared_from_this<QuicTunnel> {
 public:
  // To HOST:PORT (an IPv6 address in brackets), from UDP `localPort` (0: any). Absent, with the
  // error, when it cannot be opened.
  static std::shared_ptr<QuicTunnel> open(AsioExecutor& executor, const std::string& hostPort, std::error_code& error,
                                          uint16_t localPort = 0);
  ~QuicTunnel();

  uint16_t port() const { return port_; }
  // Why the QUIC connection ended, once it has; absent while it lasts or when it was closed here.
  const std::optional<std::error_code>& failure() const { return failure_; }
  void close();

 private:
  explicit QuicTunnel(AsioExecutor& executor) : executor_(executor), acceptor_(executor.context()) {}
  void accepted(asio::ip::tcp::socket socket);
  void quicClosed(std::error_code error);
  void join();

  AsioExecutor& executor_;
  asio::ip::tcp::acceptor acceptor_;
  uint16_t port_ = 0;
  std::shared_ptr<quic::QuicClient> quic_;
  bool quicReady_ = false;
  std::shared_ptr<PlainTcpStream> local_;
  std::shared_ptr<ConnectionPipe> pipe_;
  std::optional<std::error_code> failure_;
  bool closing_ = false;
};

// HOST:PORT, [V6]:PORT; absent when it is not one.
std::optional<std::pair<std::string, uint16_t>> splitHostPort(const std::string& text);

}  // namespace vistaro::client
