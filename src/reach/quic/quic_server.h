#pragma once

#include <gnutls/gnutls.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/executor.h"
#include "reach/quic/quic_connection.h"

namespace vistaro::quic {

// The server side of QUIC over one socket: datagrams in, each to the connection its
// connection ID names, a new connection for a client's first Initial packet. Anything else is
// dropped; so is a new client beyond the limit. Lives on one executor.
class QuicServer {
 public:
  static constexpr size_t kMaxConnections = 256;

  QuicServer(Executor& executor, DatagramSender& sender, gnutls_certificate_credentials_t credentials,
             ConnectionOptions options, Endpoint local)
      : executor_(executor), sender_(sender), credentials_(credentials), options_(options), local_(local) {}
  // Closes every connection, telling each peer.
  ~QuicServer();
  QuicServer(const QuicServer&) = delete;
  QuicServer& operator=(const QuicServer&) = delete;

  // Each stream a client opens, not yet started. Set before the first datagram.
  std::function<void(std::shared_ptr<QuicStream>)> onStream;

  void receive(const Endpoint& from, const uint8_t* data, size_t size);
  size_t connectionCount() const { return connections_.size(); }

 private:
  void acceptNew(const Endpoint& from, const uint8_t* data, size_t size);
  void negotiateVersion(const Endpoint& from, const uint8_t* data, size_t size);
  void forget(const std::shared_ptr<QuicConnection>& connection);

  Executor& executor_;
  DatagramSender& sender_;
  gnutls_certificate_credentials_t credentials_;
  const ConnectionOptions options_;
  const Endpoint local_;
  std::unordered_map<std::string, std::shared_ptr<QuicConnection>> byCid_;
  std::unordered_map<QuicConnection*, std::shared_ptr<QuicConnection>> connections_;
  // Events of connections handed out hold the server through this, weakly.
  std::shared_ptr<QuicServer*> self_ = std::make_shared<QuicServer*>(this);
};

}  // namespace vistaro::quic
