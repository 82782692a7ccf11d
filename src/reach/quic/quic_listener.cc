#include "reach/quic/quic_listener.h"

#include <asio/ip/v6_only.hpp>

#include "reach/stun_message.h"

namespace vistaro::quic {

std::shared_ptr<QuicListener> QuicListener::create(AsioExecutor& executor, uint16_t port,
                                                   std::shared_ptr<const DirectIdentity> identity,
                                                   const ConnectionOptions& options, std::error_code& error) {
  std::shared_ptr<QuicListener> listener(new QuicListener(executor, std::move(identity)));
  error = listener->open(port);
  if (error) return nullptr;
  listener->server_.emplace(executor, *listener, listener->identity_->credentials(), options,
                            listener->socket_.local_endpoint(error));
  if (error) return nullptr;
  listener->server_->onStream = [weak = std::weak_ptr<QuicListener>(listener)](std::shared_ptr<QuicStream> stream) {
    if (auto self = weak.lock(); self && self->onStream) self->onStream(std::move(stream));
  };
  return listener;
}

QuicListener::~QuicListener() { cancel(); }

std::error_code QuicListener::open(uint16_t port) {
  std::error_code error;
  Endpoint endpoint(asio::ip::address_v6::any(), port);
  socket_.open(asio::ip::udp::v6(), error);
  if (error) {
    // A kernel without IPv6: IPv4 alone.
    endpoint = Endpoint(asio::ip::address_v4::any(), port);
    error = {};
    socket_.open(asio::ip::udp::v4(), error);
  } else {
    socket_.set_option(asio::ip::v6_only(false), error);
  }
  if (!error) socket_.non_blocking(true, error);
  if (!error) socket_.bind(endpoint, error);
  if (!error) port_ = socket_.local_endpoint(error).port();
  return error;
}

void QuicListener::start() { receiveNext(); }

void QuicListener::receiveNext() {
  std::weak_ptr<QuicListener> weak = weak_from_this();
  socket_.async_receive_from(asio::buffer(datagram_), from_, [weak](std::error_code error, size_t size) {
    auto self = weak.lock();
    if (!self || self->cancelled_) return;
    if (error == asio::error::connection_refused || error == asio::error::message_size) {
      // An ICMP error about an earlier datagram, or one too large: not the socket's fault.
      return self->receiveNext();
    }
    if (error) {
      if (self->onFailed) self->onFailed(error);
      return;
    }
    self->received(size);
    self->receiveNext();
  });
}

void QuicListener::received(size_t size) {
  if (size == 0) return;
  if (looksLikeStun(datagram_.data(), size)) {
    if (onStunDatagram) onStunDatagram(from_, datagram_.data(), size);
    return;
  }
  server_->receive(from_, datagram_.data(), size);
}

// Non-blocking: a datagram the socket has no room for is dropped, as the network might.
void QuicListener::sendDatagram(const Endpoint& to, const uint8_t* data, size_t size) {
  std::error_code ignored;
  Endpoint destination = to;
  if (to.address().is_v4() && socket_.local_endpoint(ignored).address().is_v6()) {
    destination = Endpoint(asio::ip::make_address_v6(asio::ip::v4_mapped, to.address().to_v4()), to.port());
  }
  socket_.send_to(asio::buffer(data, size), destination, 0, ignored);
}

void QuicListener::cancel() {
  if (cancelled_) return;
  cancelled_ = true;
  server_.reset();
  std::error_code ignored;
  socket_.close(ignored);
}

}  // namespace vistaro::quic
