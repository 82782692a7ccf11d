#include <algorithm>

#include "core/l10n.h"
#include "server/stream_hub.h"

namespace vistaro {
namespace {

constexpr const char* kPinErrorText = "PINが違います";
constexpr const char* kInputErrorText = "Macで「アクセシビリティ」の許可が必要です（Vistaro Host をオン）";

// Undecodable bodies are ignored: the connection stays and nothing is answered.
template <typename Message, typename Handle>
void withDecoded(const Bytes& body, Handle handle) {
  if (auto message = decodeMessage<Message>(body)) handle(*message);
}

template <typename Callback, typename... Args>
void call(const Callback& callback, Args&&... args) {
  if (callback) callback(std::forward<Args>(args)...);
}

}  // namespace

template <typename Message>
void StreamHub::sendMessage(Client& client, MessageType type, const Message& message) {
  if (auto body = encodeMessage(message)) client.conn->send(type, *body);
}

template <typename Message>
void StreamHub::sendToAuthed(MessageType type, const Message& message) {
  for (auto& [id, client] : clients_) {
    if (client->authed) sendMessage(*client, type, message);
  }
}

template void StreamHub::sendToAuthed(MessageType, const WelcomeMessage&);
template void StreamHub::sendToAuthed(MessageType, const ErrorMessage&);

void StreamHub::accept(std::shared_ptr<ByteStream> stream) {
  auto client = std::make_shared<Client>();
  client->id = nextClientID_++;
  client->conn = FramedConnection::create(std::move(stream), queue_);
  clients_.emplace(client->id, client);

  std::weak_ptr<StreamHub> weakHub = weak_from_this();
  std::weak_ptr<Client> weakClient = client;
  client->conn->onMessage = [weakHub, weakClient](MessageType type, Bytes body) {
    auto hub = weakHub.lock();
    auto current = weakClient.lock();
    if (hub && current) hub->dispatch(current, type, body);
  };
  client->conn->onClose = [weakHub, id = client->id](std::optional<std::error_code>) {
    if (auto hub = weakHub.lock()) hub->disconnected(id);
  };
  client->conn->start();

  // Counted from the accept, so it also ends a TLS handshake that never finishes.
  queue_.postAfter(kAuthDeadline, [weakClient] {
    auto current = weakClient.lock();
    if (current && !current->authed) current->conn->cancelStream();
  });
}

void StreamHub::disconnected(ClientID id) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  const bool wasAuthed = found->second->authed;
  clients_.erase(found);
  if (wasAuthed) reportClientNames();
}

void StreamHub::reportClientNames() {
  if (!onClientsChanged) return;
  std::vector<std::string> names;
  for (const auto& [id, client] : clients_) {
    if (client->authed) names.push_back(client->name);
  }
  std::sort(names.begin(), names.end());
  onClientsChanged(std::move(names));
}

void StreamHub::dispatch(const std::shared_ptr<Client>& client, MessageType type, const Bytes& body) {
  if (type == MessageType::hello) {
    handshake(client, body);
    return;
  }
  if (!client->authed) return;
  switch (type) {
    case MessageType::request:
      withDecoded<RequestMessage>(body, [&](RequestMessage& m) { handleRequest(client, std::move(m)); });
      break;
    case MessageType::selectDisplay:
      withDecoded<SelectDisplayMessage>(body, [&](const auto& m) { call(onSelectDisplay, m.id); });
      break;
    case MessageType::input:
      withDecoded<InputMessage>(body, [&](const auto& m) { handlePointerInput(client, m); });
      break;
    case MessageType::key:
      withDecoded<KeyMessage>(body, [&](const auto& m) { handleKey(*client, m); });
      break;
    case MessageType::setHeadless:
      withDecoded<HeadlessMessage>(body, [&](const auto& m) { call(onSetHeadless, m.enabled); });
      break;
    case MessageType::clientDisplay:
      withDecoded<ClientDisplayMessage>(body, [&](const auto& m) { call(onClientDisplay, m); });
      break;
    case MessageType::setFit:
      withDecoded<HeadlessMessage>(body, [&](const auto& m) { call(onSetFit, m.enabled); });
      break;
    case MessageType::hello:
    case MessageType::welcome:
    case MessageType::frame:
    case MessageType::error:
    case MessageType::focus:
      break;
  }
}

void StreamHub::handshake(const std::shared_ptr<Client>& client, const Bytes& body) {
  auto hello = decodeMessage<HelloMessage>(body);
  if (!hello) {
    client->conn->cancelStream();
    return;
  }
  // Exact equality: no trimming, no case folding; an unset PIN admits no one.
  if (pin_.empty() || hello->pin != pin_) {
    schedulePinError(client);
    return;
  }
  client->authed = true;
  client->name = std::move(hello->name);
  const auto& features = hello->features;
  client->patches = features && std::find(features->begin(), features->end(), "patch") != features->end();
  if (welcome_) sendMessage(*client, MessageType::welcome, *welcome_);
  reportClientNames();
  sendFrame(client);
}

void StreamHub::schedulePinError(const std::shared_ptr<Client>& client) {
  // One error per connection: a flood of wrong hellos must not pile up timers
  // for a connection that ends with the first error anyway.
  if (client->pinErrorScheduled) return;
  client->pinErrorScheduled = true;
  // Holds the client until the error has gone out and the connection is cancelled.
  queue_.postAfter(kPinErrorDelay, [client] {
    auto body = encodeMessage(ErrorMessage{"auth", localized(kPinErrorText)});
    if (!body) {
      client->conn->cancelStream();
      return;
    }
    client->conn->send(MessageType::error, *body, [client](std::error_code) { client->conn->cancelStream(); });
  });
}

void StreamHub::handleRequest(const std::shared_ptr<Client>& client, RequestMessage request) {
  const bool full = request.full.value_or(false);
  client->pending = std::move(request);
  client->credits = std::min(client->credits + 1, 2);
  if (full) {
    client->base.forget();
    client->detail.forget();
  }
  sendFrame(client);
}

void StreamHub::handlePointerInput(const std::shared_ptr<Client>& client, const InputMessage& message) {
  if (!input_.injectPointerInput) return;
  if (!input_.injectPointerInput(message)) {
    refuseInput(*client);
    return;
  }
  if (message.kind != InputMessage::Kind::click || !input_.displayPoint || !input_.checkFocusAfterClick) return;
  const auto point = input_.displayPoint(message);
  if (!point) return;
  const int64_t seq = ++client->clickSeq;
  std::weak_ptr<StreamHub> weakHub = weak_from_this();
  std::weak_ptr<Client> weakClient = client;
  input_.checkFocusAfterClick(*point, [weakHub, weakClient, seq](bool editable) {
    auto hub = weakHub.lock();
    if (!hub) return;
    hub->queue_.post([weakClient, seq, editable] {
      auto current = weakClient.lock();
      // A newer click has its own answer coming; this one is stale.
      if (current && current->clickSeq == seq) sendMessage(*current, MessageType::focus, FocusMessage{editable});
    });
  });
}

void StreamHub::handleKey(Client& client, const KeyMessage& message) {
  if (!input_.isInputTrusted || !input_.enqueueKey) return;
  if (!input_.isInputTrusted()) {
    refuseInput(client);
    return;
  }
  mainQueue_.post([enqueueKey = input_.enqueueKey, message] { enqueueKey(message); });
}

void StreamHub::refuseInput(Client& client) {
  sendMessage(client, MessageType::error, ErrorMessage{"input", localized(kInputErrorText)});
  call(onInputPermissionMissing);
}

}  // namespace vistaro
