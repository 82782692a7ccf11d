#include <algorithm>

#include "core/l10n.h"
#include "core/log.h"
#include "server/stream_hub.h"

namespace vistaro {
namespace {

constexpr const char* kPinErrorText = "PINが違います";
constexpr const char* kInputErrorText = "Macで「アクセシビリティ」の許可が必要です（Vistaro Host をオン）";
constexpr const char* kKeysRefusedText = "キー入力が多すぎるため、一部を入力しませんでした";

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
  const PeerAddress peer = stream->peer();
  if (!throttle_.admits(peer.source, queue_.now())) {
    // Held off: not even a TLS handshake is spent on it.
    stream->cancel();
    return;
  }
  makeRoomFor(peer);
  auto client = std::make_shared<Client>();
  client->id = nextClientID_++;
  client->peer = peer;
  client->conn = FramedConnection::create(std::move(stream), queue_);
  client->conn->limitLength(kMaxUnauthenticatedLength);
  clients_.emplace(client->id, client);

  std::weak_ptr<StreamHub> weakHub = weak_from_this();
  std::weak_ptr<Client> weakClient = client;
  client->conn->onMessage = [weakHub, weakClient](MessageType type, Bytes body) {
    auto hub = weakHub.lock();
    auto current = weakClient.lock();
    if (hub && current) hub->dispatch(current, type, body);
  };
  client->conn->onClose = [weakHub, id = client->id](std::optional<std::error_code> error) {
    if (auto hub = weakHub.lock()) hub->disconnected(id, error);
  };
  client->conn->start();

  // Counted from the accept, so it also ends a TLS handshake that never finishes.
  queue_.postAfter(kAuthDeadline, [weakClient] {
    auto current = weakClient.lock();
    if (current && !current->authed) current->conn->cancelStream();
  });
}

// Idle or half-open connections cost a descriptor each: one source gets a few of them, all
// sources together a few hundred, and the oldest makes way, so a new client always gets in.
void StreamHub::makeRoomFor(const PeerAddress& peer) {
  size_t pending = 0;
  size_t fromPeer = 0;
  ClientID oldest = 0;
  ClientID oldestFromPeer = 0;
  for (const auto& [id, client] : clients_) {  // in order of acceptance
    if (client->authed) continue;
    if (pending++ == 0) oldest = id;
    if (client->peer.source == peer.source && fromPeer++ == 0) oldestFromPeer = id;
  }
  std::optional<ClientID> drop;
  if (fromPeer >= kMaxPendingPerSource) drop = oldestFromPeer;
  else if (pending >= kMaxPending) drop = oldest;
  if (!drop) return;
  auto found = clients_.find(*drop);
  std::shared_ptr<Client> dropped = found->second;
  clients_.erase(found);
  dropped->conn->cancelStream();
}

void StreamHub::disconnected(ClientID id, const std::optional<std::error_code>& error) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  const std::shared_ptr<Client> client = found->second;
  clients_.erase(found);
  if (!client->authed && error == make_error_code(StreamError::keyRejected)) authFailed(*client);
  // Keys it queued and that were not typed yet go with it.
  if (client->authed && input_.dropKeys) mainQueue_.post([dropKeys = input_.dropKeys, id] { dropKeys(id); });
  if (client->authed) reportClientNames();
}

void StreamHub::authFailed(const Client& client) {
  throttle_.recordFailure(client.peer.source, queue_.now());
  authFailures_.count += 1;
  authFailures_.lastAddress = client.peer.address;
  scheduleFailureReport();
}

// A guessing attack fails a thousand times a second: the controller hears of it once a
// second, the journal once every ten.
void StreamHub::scheduleFailureReport() {
  if (failureReportPending_) return;
  failureReportPending_ = true;
  failureReport_.schedule(queue_, kFailureReportInterval, [weak = weak_from_this()] {
    if (auto hub = weak.lock()) hub->reportAuthFailures();
  });
}

void StreamHub::reportAuthFailures() {
  failureReportPending_ = false;
  const TimePoint now = queue_.now();
  authFailures_.heldSources = throttle_.heldSources(now);
  call(onAuthFailures, authFailures_);
  if (authFailures_.count == authFailuresLogged_) return;
  if (lastFailureLog_ && now - *lastFailureLog_ < kFailureLogInterval) return scheduleFailureReport();
  logWarning("auth", "{} failed PIN attempts so far, the latest from {}; {} sources are held off",
             authFailures_.count, authFailures_.lastAddress, authFailures_.heldSources);
  authFailuresLogged_ = authFailures_.count;
  lastFailureLog_ = now;
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
  client->conn->limitLength(FramedConnection::kMaxLength);
  throttle_.recordSuccess(client->peer.source);
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
  authFailed(*client);
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
  mainQueue_.post([weak = weak_from_this(), enqueueKey = input_.enqueueKey, id = client.id, message] {
    if (enqueueKey(id, message)) return;
    if (auto hub = weak.lock()) hub->queue_.post([weak, id] {
      if (auto hub = weak.lock()) hub->refuseKeys(id);
    });
  });
}

void StreamHub::refuseKeys(ClientID id) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  sendMessage(*found->second, MessageType::error, ErrorMessage{"input", localized(kKeysRefusedText)});
}

void StreamHub::refuseInput(Client& client) {
  sendMessage(client, MessageType::error, ErrorMessage{"input", localized(kInputErrorText)});
  call(onInputPermissionMissing);
}

}  // namespace vistaro
