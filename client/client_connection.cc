#include "client/client_connection.h"

#include "server/tls_stream.h"

namespace vistaro::client {

std::shared_ptr<ClientConnection> ClientConnection::create(AsioExecutor& executor, ClientOptions options) {
  return std::shared_ptr<ClientConnection>(new ClientConnection(executor, std::move(options)));
}

ClientConnection::ClientConnection(AsioExecutor& executor, ClientOptions options)
    : executor_(executor), options_(std::move(options)) {}

void ClientConnection::start() {
  std::string host = options_.host;
  uint16_t port = options_.port;
  if (options_.quic) {
    std::error_code error;
    tunnel_ = QuicTunnel::open(executor_, *options_.quic, error, options_.quicLocalPort);
    if (!tunnel_) {
      executor_.post([weak = weak_from_this(), error] {
        if (auto self = weak.lock(); self && self->onClose) self->onClose(error);
      });
      return;
    }
    host = "127.0.0.1";
    port = tunnel_->port();
  }
  auto stream = TlsStream::connecting(executor_, host, port, makeTransportParameters(options_.pin));
  connection_ = FramedConnection::create(std::move(stream), executor_);
  std::weak_ptr<ClientConnection> weak = weak_from_this();
  connection_->onReady = [weak] {
    auto self = weak.lock();
    if (!self) return;
    if (!self->options_.helloWhenReady) return;
    self->hello();
    if (self->onHelloSent) self->onHelloSent();
  };
  connection_->onMessage = [weak](MessageType type, Bytes body) {
    if (auto self = weak.lock()) self->dispatch(type, std::move(body));
  };
  connection_->onClose = [weak](std::optional<std::error_code> error) {
    auto self = weak.lock();
    if (!self) return;
    // A refused QUIC connection says more than the end of the TLS session it carried.
    if (self->tunnel_ && self->tunnel_->failure()) error = self->tunnel_->failure();
    if (self->tunnel_) self->tunnel_->close();
    if (self->onClose) self->onClose(error);
  };
  connection_->start();
}

void ClientConnection::hello() {
  HelloMessage hello{options_.pin, options_.name, options_.version, std::nullopt};
  if (!options_.features.empty()) hello.features = options_.features;
  send(MessageType::hello, hello);
}

void ClientConnection::sendRaw(MessageType type, const Bytes& body) {
  if (connection_) connection_->send(type, body);
}

void ClientConnection::close() {
  if (connection_) connection_->close();
}

template <typename Message>
void ClientConnection::send(MessageType type, const Message& message) {
  if (!connection_) return;
  if (std::optional<Bytes> body = encodeMessage(message)) connection_->send(type, *body);
}

template <typename Message>
void ClientConnection::deliver(MessageType type, const Bytes& body,
                               const std::function<void(const Message&)>& handler) {
  if (std::optional<Message> message = decodeMessage<Message>(body)) {
    if (handler) handler(*message);
  } else if (onUnexpected) {
    onUnexpected(type, body);
  }
}

void ClientConnection::dispatch(MessageType type, Bytes body) {
  switch (type) {
    case MessageType::welcome:
      return deliver(type, body, onWelcome);
    case MessageType::error:
      return deliver(type, body, onError);
    case MessageType::focus:
      return deliver(type, body, onFocus);
    case MessageType::frame:
      if (onFrame) onFrame(std::move(body));
      return;
    default:
      if (onUnexpected) onUnexpected(type, body);
  }
}

void ClientConnection::request(const RequestMessage& message) { send(MessageType::request, message); }
void ClientConnection::selectDisplay(DisplayID id) { send(MessageType::selectDisplay, SelectDisplayMessage{id}); }
void ClientConnection::input(const InputMessage& message) { send(MessageType::input, message); }
void ClientConnection::key(const KeyMessage& message) { send(MessageType::key, message); }
void ClientConnection::setHeadless(bool enabled) { send(MessageType::setHeadless, HeadlessMessage{enabled}); }
void ClientConnection::setFit(bool enabled) { send(MessageType::setFit, HeadlessMessage{enabled}); }
void ClientConnection::clientDisplay(const ClientDisplayMessage& message) {
  send(MessageType::clientDisplay, message);
}

}  // namespace vistaro::client
