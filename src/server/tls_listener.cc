#include "server/tls_listener.h"

#include <asio/ip/v6_only.hpp>

#include "core/log.h"
#include "server/tcp_options.h"
#include "server/tls_stream.h"

namespace vistaro {

namespace {

// Accept errors such as running out of descriptors are retried after a pause, not in a busy loop.
constexpr auto kAcceptRetryDelay = std::chrono::seconds(1);

}  // namespace

std::shared_ptr<TlsListener> TlsListener::create(AsioExecutor& executor, uint16_t port,
                                                 TransportParameters parameters, std::error_code& error) {
  std::shared_ptr<TlsListener> listener(new TlsListener(executor, std::move(parameters)));
  error = listener->open(port);
  if (error) return nullptr;
  return listener;
}

TlsListener::TlsListener(AsioExecutor& executor, TransportParameters parameters)
    : executor_(executor), parameters_(std::move(parameters)), acceptor_(executor.context()) {}

std::error_code TlsListener::open(uint16_t port) {
  std::error_code error;
  acceptor_.open(asio::ip::tcp::v6(), error);
  asio::ip::tcp::endpoint endpoint(asio::ip::address_v6::any(), port);
  if (error) {
    // A kernel without IPv6: listen on IPv4 alone.
    endpoint = asio::ip::tcp::endpoint(asio::ip::address_v4::any(), port);
    error = {};
    acceptor_.open(asio::ip::tcp::v4(), error);
  } else {
    acceptor_.set_option(asio::ip::v6_only(false), error);
  }
  if (!error) acceptor_.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor_.bind(endpoint, error);
  if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
  if (!error) port_ = acceptor_.local_endpoint(error).port();
  return error;
}

void TlsListener::start() { acceptNext(); }

void TlsListener::acceptNext() {
  std::weak_ptr<TlsListener> weak = weak_from_this();
  acceptor_.async_accept(executor_.context(), [weak](std::error_code error, asio::ip::tcp::socket socket) {
    auto self = weak.lock();
    if (!self || self->cancelled_) return;
    if (error) {
      logWarning("listener", "accept on port {} failed: {}", self->port_, error.message());
      self->executor_.postAfter(kAcceptRetryDelay, [weak] {
        if (auto self = weak.lock(); self && !self->cancelled_) self->acceptNext();
      });
      return;
    }
    if (const std::error_code optionError = applyTcpOptions(socket)) {
      logWarning("listener", "TCP options on an accepted connection: {}", optionError.message());
    }
    if (self->onAccept) {
      auto relayedFrom = self->relayedFrom(socket);
      self->onAccept(TlsStream::accepted(self->executor_, std::move(socket), self->parameters_, std::move(relayedFrom)));
    }
    self->acceptNext();
  });
}

std::optional<PeerAddress> TlsListener::relayedFrom(const asio::ip::tcp::socket& socket) const {
  std::error_code error;
  const auto remote = socket.remote_endpoint(error);
  if (error || !relayedPeers) return std::nullopt;
  const asio::ip::address address = remote.address();
  const bool loopback = address.is_loopback() || (address.is_v6() && address.to_v6().is_v4_mapped() &&
                                                  asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback());
  if (!loopback) return std::nullopt;
  return relayedPeers->find(remote.port());
}

void TlsListener::cancel() {
  cancelled_ = true;
  std::error_code ignored;
  acceptor_.close(ignored);
}

}  // namespace vistaro
