#pragma once

#include <asio/ip/udp.hpp>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include "core/asio_executor.h"
#include "reach/direct_identity.h"
#include "reach/quic/quic_server.h"

namespace vistaro::quic {

// A QUIC server on a UDP socket of its own, on every address (dual-stack "::"). The socket
// also carries the direct path's other datagrams, so that their replies come back to the port
// the listener is known by: STUN messages (first bits 00 and the magic cookie) go to
// onStunDatagram instead.
class QuicListener final : public std::enable_shared_from_this<QuicListener>, public DatagramSender {
 public:
  // Port 0: any. Absent, with the error, when the port cannot be had.
  static std::shared_ptr<QuicListener> create(AsioExecutor& executor, uint16_t port,
                                              std::shared_ptr<const DirectIdentity> identity,
                                              const ConnectionOptions& options, std::error_code& error);
  ~QuicListener() override;

  // Set before start(); each runs on the executor.
  std::function<void(std::shared_ptr<QuicStream>)> onStream;
  std::function<void(std::error_code)> onFailed;
  std::function<void(const Endpoint& from, const uint8_t* data, size_t size)> onStunDatagram;

  uint16_t port() const { return port_; }
  void start();
  // Closes every connection and the socket.
  void cancel();
  // From the listener's own port.
  void sendDatagram(const Endpoint& to, const uint8_t* data, size_t size) override;

 private:
  QuicListener(AsioExecutor& executor, std::shared_ptr<const DirectIdentity> identity)
      : identity_(std::move(identity)), socket_(executor.context()) {}
  std::error_code open(uint16_t port);
  void receiveNext();
  void received(size_t size);

  std::shared_ptr<const DirectIdentity> identity_;
  asio::ip::udp::socket socket_;
  uint16_t port_ = 0;
  std::optional<QuicServer> server_;
  std::array<uint8_t, 65536> datagram_;
  Endpoint from_;
  bool cancelled_ = false;
};

}  // namespace vistaro::quic
