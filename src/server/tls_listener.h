#pragma once

#include <asio/ip/tcp.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include "core/asio_executor.h"
#include "wire/byte_stream.h"
#include "server/relayed_peers.h"
#include "server/transport_parameters.h"

namespace vistaro {

// Accepts TCP connections on every address (dual-stack "::") and hands each
// over as a TLS-PSK stream that has not started yet.
class TlsListener : public std::enable_shared_from_this<TlsListener> {
 public:
  using AcceptHandler = std::function<void(std::shared_ptr<ByteStream>)>;

  // Port 0 takes any free port. Absent, with the error, when the port cannot be had.
  static std::shared_ptr<TlsListener> create(AsioExecutor& executor, uint16_t port, TransportParameters parameters,
                                             std::error_code& error);

  // Set before start(); runs on the executor.
  AcceptHandler onAccept;
  // Where loopback connections relayed in by the host's agents really come from.
  const RelayedPeers* relayedPeers = nullptr;

  uint16_t port() const { return port_; }
  void start();
  // Stops accepting; streams already handed over live on.
  void cancel();

 private:
  TlsListener(AsioExecutor& executor, TransportParameters parameters);
  std::error_code open(uint16_t port);
  void acceptNext();
  std::optional<PeerAddress> relayedFrom(const asio::ip::tcp::socket& socket) const;

  AsioExecutor& executor_;
  TransportParameters parameters_;
  asio::ip::tcp::acceptor acceptor_;
  uint16_t port_ = 0;
  bool cancelled_ = false;
};

}  // namespace vistaro
