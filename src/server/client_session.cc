#include "server/client_session.h"

#include <algorithm>

#include "core/l10n.h"

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

std::shared_ptr<ClientSession> ClientSession::start(ID id, std::shared_ptr<ByteStream> stream, Executor& queue,
                                                    std::weak_ptr<Owner> owner, DesktopInput& input) {
  std::shared_ptr<ClientSession> session(new ClientSession(id, std::move(stream), queue, std::move(owner), input));
  std::weak_ptr<ClientSession> weak = session;
  session->connection_->onMessage = [weak](MessageType type, Bytes body) {
    if (auto self = weak.lock()) self->dispatch(type, body);
  };
  session->connection_->onClose = [weak](std::optional<std::error_code> error) {
    auto self = weak.lock();
    if (!self) return;
    if (auto owner = self->owner_.lock()) owner->closed(*self, error);
  };
  session->connection_->start();
  // Counted from the accept, so it also ends a TLS handshake that never finishes.
  queue.postAfter(kAuthDeadline, [weak] {
    auto self = weak.lock();
    if (self && !self->authed_) self->cancel();
  });
  return session;
}

ClientSession::ClientSession(ID id, std::shared_ptr<ByteStream> stream, Executor& queue, std::weak_ptr<Owner> owner,
                             DesktopInput& input)
    : id_(id), peer_(stream->peer()), queue_(queue), owner_(std::move(owner)), input_(input),
      connection_(FramedConnection::create(std::move(stream), queue)) {
  connection_->limitLength(kMaxUnauthenticatedLength);
}

void ClientSession::dispatch(MessageType type, const Bytes& body) {
  if (type == MessageType::hello) return handshake(body);
  auto owner = owner_.lock();
  if (!authed_ || !owner) return;
  const HubEvents& events = owner->events();
  switch (type) {
    case MessageType::request:
      withDecoded<RequestMessage>(body, [&](RequestMessage& m) {
        fanout_.requested(std::move(m));
        owner->requested(shared_from_this());
      });
      break;
    case MessageType::selectDisplay:
      withDecoded<SelectDisplayMessage>(body, [&](const auto& m) { call(events.selectDisplay, m.id); });
      break;
    case MessageType::input:
      withDecoded<InputMessage>(body, [&](const auto& m) { pointer(m); });
      break;
    case MessageType::key:
      withDecoded<KeyMessage>(body, [&](const auto& m) { keys(m); });
      break;
    case MessageType::setHeadless:
      withDecoded<HeadlessMessage>(body, [&](const auto& m) { call(events.setHeadless, m.enabled); });
      break;
    case MessageType::clientDisplay:
      withDecoded<ClientDisplayMessage>(body, [&](const auto& m) { call(events.clientDisplay, m); });
      break;
    case MessageType::setFit:
      withDecoded<HeadlessMessage>(body, [&](const auto& m) { call(events.setFit, m.enabled); });
      break;
    case MessageType::hello:
    case MessageType::welcome:
    case MessageType::frame:
    case MessageType::error:
    case MessageType::focus:
      break;
  }
}

void ClientSession::handshake(const Bytes& body) {
  auto hello = decodeMessage<HelloMessage>(body);
  if (!hello) return cancel();
  auto owner = owner_.lock();
  if (!owner) return;
  if (!owner->pinMatches(hello->pin)) return refusePin();
  authed_ = true;
  connection_->limitLength(FramedConnection::kMaxLength);
  name_ = std::move(hello->name);
  const auto& features = hello->features;
  fanout_.patches = features && std::find(features->begin(), features->end(), "patch") != features->end();
  owner->authenticated(shared_from_this());
}

void ClientSession::refusePin() {
  // One error per connection: a flood of wrong hellos must not pile up timers for a
  // connection that ends with the first error anyway.
  if (pinRefused_) return;
  pinRefused_ = true;
  if (auto owner = owner_.lock()) owner->authFailed(*this);
  // Holds the session until the error has gone out and the connection is cancelled.
  queue_.postAfter(kPinErrorDelay, [self = shared_from_this()] {
    auto body = encodeMessage(ErrorMessage{"auth", localized(kPinErrorText)});
    if (!body) return self->cancel();
    self->connection_->send(MessageType::error, *body, [self](std::error_code) { self->cancel(); });
  });
}

void ClientSession::pointer(const InputMessage& message) {
  if (!input_.pointer(message)) return refuseInput();
  if (message.kind != InputMessage::Kind::click) return;
  const auto point = input_.displayPoint(message);
  if (!point) return;
  const int64_t seq = ++clickSeq_;
  input_.checkFocusAfterClick(*point, [weak = weak_from_this(), &queue = queue_, seq](bool editable) {
    queue.post([weak, seq, editable] {
      auto self = weak.lock();
      // A newer click has its own answer coming; this one is stale.
      if (self && self->clickSeq_ == seq) self->send(MessageType::focus, FocusMessage{editable});
    });
  });
}

void ClientSession::keys(const KeyMessage& message) {
  if (!input_.trusted()) return refuseInput();
  input_.keys(id_, message, [weak = weak_from_this(), &queue = queue_] {
    queue.post([weak] {
      if (auto self = weak.lock()) self->send(MessageType::error, ErrorMessage{"input", localized(kKeysRefusedText)});
    });
  });
}

void ClientSession::refuseInput() {
  send(MessageType::error, ErrorMessage{"input", localized(kInputErrorText)});
  if (auto owner = owner_.lock()) call(owner->events().inputPermissionMissing);
}

}  // namespace vistaro
