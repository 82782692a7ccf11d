#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "client/direct_dial.h"
#include "client/quic_tunnel.h"
#include "core/asio_executor.h"
#include "wire/framed_connection.h"
#include "wire/messages.h"

namespace vistaro::client {

struct ClientOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 52525;
  // HOST:PORT of the host's direct path: the same session, over QUIC, instead of host and port.
  std::optional<std::string> quic;
  uint16_t quicLocalPort = 0;  // 0: any
  // From outside the host's network: a rendezvous that finds `quic` and `quicLocalPort` first.
  std::optional<DirectOptions> direct;
  std::string pin;
  std::string name = "vistaro-client";
  int64_t version = 1;
  // "patch" announces that this client applies partial frames.
  std::vector<std::string> features;
  // Off: nothing goes out until the caller sends it (tests that speak for the client).
  bool helloWhenReady = true;
};

// One connection to a host: TLS keyed by the PIN, hello once the session is
// up, then typed callbacks for what the host sends. Made, used and dropped on
// its executor; every callback runs there.
class ClientConnection : public std::enable_shared_from_this<ClientConnection> {
 public:
  static std::shared_ptr<ClientConnection> create(AsioExecutor& executor, ClientOptions options);

  // Set before start().
  std::function<void()> onHelloSent;
  std::function<void(const WelcomeMessage&)> onWelcome;
  std::function<void(const ErrorMessage&)> onError;
  std::function<void(const FocusMessage&)> onFocus;
  std::function<void(Bytes body)> onFrame;
  // A host message whose body did not decode, or of a type a host never sends.
  std::function<void(MessageType, const Bytes& body)> onUnexpected;
  std::function<void(std::optional<std::error_code>)> onClose;

  void start();
  void close();
  bool closed() const { return !connection_ || connection_->closed(); }

  // Sent by itself once the session is up; again, the host judges it anew.
  void hello();
  // Any type and body, as a client that does not play by the rules would send them.
  void sendRaw(MessageType type, const Bytes& body);
  void request(const RequestMessage& message);
  void selectDisplay(DisplayID id);
  void input(const InputMessage& message);
  void key(const KeyMessage& message);
  void setHeadless(bool enabled);
  void setFit(bool enabled);
  void clientDisplay(const ClientDisplayMessage& message);

 private:
  ClientConnection(AsioExecutor& executor, ClientOptions options);
  template <typename Message>
  void send(MessageType type, const Message& message);
  void dispatch(MessageType type, Bytes body);
  template <typename Message>
  void deliver(MessageType type, const Bytes& body, const std::function<void(const Message&)>& handler);

  AsioExecutor& executor_;
  ClientOptions options_;
  std::shared_ptr<QuicTunnel> tunnel_;
  std::shared_ptr<FramedConnection> connection_;
};

}  // namespace vistaro::client
