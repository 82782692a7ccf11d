#include "reach/quic/quic_client.h"

#include "reach/quic/quic_error.h"

namespace vistaro::quic {

std::shared_ptr<QuicClient> QuicClient::create(AsioExecutor& executor, const Endpoint& server, const std::string& alpn,
                                               std::error_code& error, uint16_t localPort) {
  std::shared_ptr<QuicClient> client(new QuicClient(executor));
  client->socket_.open(server.protocol(), error);
  if (!error) client->socket_.non_blocking(true, error);
  if (!error) client->socket_.bind(Endpoint(server.protocol(), localPort), error);
  if (error) return nullptr;
  const int result = gnutls_certificate_allocate_credentials(&client->credentials_);
  if (result != GNUTLS_E_SUCCESS) {
    error = makeQuicError(NGTCP2_ERR_CRYPTO);
    return nullptr;
  }
  client->connection_ = QuicConnection::connect(executor, *client, client->credentials_, ConnectionOptions{}, alpn,
                                                client->socket_.local_endpoint(error), server);
  if (!client->connection_) {
    error = makeQuicError(NGTCP2_ERR_INTERNAL);
    return nullptr;
  }
  return client;
}

QuicClient::~QuicClient() {
  if (connection_) connection_->close();
  connection_.reset();
  if (credentials_) gnutls_certificate_free_credentials(credentials_);
}

void QuicClient::start() {
  std::weak_ptr<QuicClient> weak = weak_from_this();
  QuicConnection::Events events;
  events.ready = [weak] {
    if (auto self = weak.lock(); self && self->onReady) self->onReady();
  };
  events.closed = [weak](std::error_code error) {
    auto self = weak.lock();
    if (!self) return;
    std::error_code ignored;
    self->socket_.close(ignored);
    if (self->onClosed) self->onClosed(error);
  };
  connection_->setEvents(std::move(events));
  receiveNext();
  connection_->start();
}

void QuicClient::receiveNext() {
  std::weak_ptr<QuicClient> weak = weak_from_this();
  socket_.async_receive_from(asio::buffer(datagram_), from_, [weak](std::error_code error, size_t size) {
    auto self = weak.lock();
    if (!self || error == asio::error::operation_aborted) return;
    if (!error) self->connection_->receive(self->from_, self->datagram_.data(), size);
    // A refused datagram (nobody at the port yet) is not the end: QUIC sends again.
    if (self->socket_.is_open()) self->receiveNext();
  });
}

void QuicClient::close() { connection_->close(); }

void QuicClient::sendDatagram(const Endpoint& to, const uint8_t* data, size_t size) {
  std::error_code ignored;
  socket_.send_to(asio::buffer(data, size), to, 0, ignored);
}

}  // namespace vistaro::quic
