#pragma once

#include <asio/ip/udp.hpp>
#include <gnutls/gnutls.h>

#include <array>
#include <functional>
#include <memory>
#include <system_error>

#include "core/asio_executor.h"
#include "reach/quic/quic_connection.h"

namespace vistaro::quic {

// The client side of one QUIC connection, on a UDP socket of its own.
class QuicClient final : public std::enable_shared_from_this<QuicClient>, public DatagramSender {
 public:
  // Offers `alpn` (none when empty), from `localPort` (0: any; the port whose way through the
  // routers was opened for it). Absent, with the error, when no socket can be had.
  static std::shared_ptr<QuicClient> create(AsioExecutor& executor, const Endpoint& server, const std::string& alpn,
                                            std::error_code& error, uint16_t localPort = 0);
  ~QuicClient() override;

  // Set before start(); each runs on the executor.
  std::function<void()> onReady;
  std::function<void(std::error_code)> onClosed;

  void start();
  // Once ready.
  std::shared_ptr<QuicStream> openStream() { return connection_->openStream(); }
  void close();
  void sendDatagram(const Endpoint& to, const uint8_t* data, size_t size) override;

 private:
  explicit QuicClient(AsioExecutor& executor) : socket_(executor.context()) {}
  void receiveNext();

  asio::ip::udp::socket socket_;
  gnutls_certificate_credentials_t credentials_ = nullptr;
  std::shared_ptr<QuicConnection> connection_;
  std::array<uint8_t, 65536> datagram_;
  Endpoint from_;
};

}  // namespace vistaro::quic
