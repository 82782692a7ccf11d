#include "client/quic_tunnel.h"

#include <asio/ip/udp.hpp>

#include <charconv>

#include "reach/quic/quic_tls.h"

namespace vistaro::client {

std::optional<std::pair<std::string, uint16_t>> splitHostPort(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  unsigned port = 0;
  const char* end = text.data() + text.size();
  const auto [stop, result] = std::from_chars(text.data() + colon + 1, end, port);
  if (result != std::errc() || stop != end || port == 0 || port > 65535) return std::nullopt;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return std::make_pair(host, static_cast<uint16_t>(port));
}

std::shared_ptr<QuicTunnel> QuicTunnel::open(AsioExecutor& executor, const std::string& hostPort,
                                             std::error_code& error, uint16_t localPort) {
  const auto target = splitHostPort(hostPort);
  if (!target) {
    error = std::make_error_code(std::errc::invalid_argument);
    return nullptr;
  }
  asio::ip::udp::resolver resolver(executor.context());
  const auto endpoints = resolver.resolve(target->first, std::to_string(target->second), error);
  if (error || endpoints.empty()) return nullptr;

  std::shared_ptr<QuicTunnel> tunnel(new QuicTunnel(executor));
  const asio::ip::tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
  tunnel->acceptor_.open(loopback.protocol(), error);
  if (!error) tunnel->acceptor_.bind(loopback, error);
  if (!error) tunnel->acceptor_.listen(1, error);
  if (!error) tunnel->port_ = tunnel->acceptor_.local_endpoint(error).port();
  if (!error) tunnel->quic_ = quic::QuicClient::create(executor, endpoints.begin()->endpoint(), quic::kAlpn, error, localPort);
  if (error) return nullptr;

  std::weak_ptr<QuicTunnel> weak = tunnel;
  tunnel->quic_->onReady = [weak] {
    if (auto self = weak.lock()) {
      self->quicReady_ = true;
      self->join();
    }
  };
  tunnel->quic_->onClosed = [weak](std::error_code closed) {
    if (auto self = weak.lock()) self->quicClosed(closed);
  };
  tunnel->acceptor_.async_accept([weak](std::error_code accepted, asio::ip::tcp::socket socket) {
    if (auto self = weak.lock(); self && !accepted) self->accepted(std::move(socket));
  });
  tunnel->quic_->start();
  return tunnel;
}

QuicTunnel::~QuicTunnel() { close(); }

void QuicTunnel::accepted(asio::ip::tcp::socket socket) {
  // One connection only: nobody else gets in through this port.
  std::error_code ignored;
  acceptor_.close(ignored);
  local_ = PlainTcpStream::accepted(executor_, std::move(socket));
  if (failure_) return local_->cancel();
  join();
}

void QuicTunnel::join() {
  if (!local_ || !quicReady_ || pipe_ || closing_) return;
  auto stream = quic_->openStream();
  if (!stream) {
    failure_ = std::make_error_code(std::errc::connection_refused);
    return local_->cancel();
  }
  pipe_ = ConnectionPipe::create(local_, std::move(stream), executor_);
  pipe_->onClose = [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->close();
  };
  pipe_->start();
}

// Refused (no ALPN in common, no listener) or gone: the client's TLS then sees its connection end.
void QuicTunnel::quicClosed(std::error_code error) {
  if (!closing_) failure_ = error;
  std::error_code ignored;
  acceptor_.close(ignored);
  if (local_ && !pipe_) local_->cancel();
}

void QuicTunnel::close() {
  if (closing_) return;
  closing_ = true;
  if (pipe_) pipe_->close();
  if (quic_) quic_->close();
}

}  // namespace vistaro::client
