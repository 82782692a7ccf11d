#include "wire/framed_connection.h"

#include <limits>

namespace vistaro {

namespace {

constexpr size_t kPrefixSize = 5;

uint32_t readBigEndian32(const Bytes& bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

}  // namespace

std::shared_ptr<FramedConnection> FramedConnection::create(std::shared_ptr<ByteStream> stream, Executor& executor) {
  return std::shared_ptr<FramedConnection>(new FramedConnection(std::move(stream), executor));
}

FramedConnection::FramedConnection(std::shared_ptr<ByteStream> stream, Executor& executor)
    : stream_(std::move(stream)), executor_(executor) {}

void FramedConnection::start() {
  std::weak_ptr<FramedConnection> weak = weak_from_this();
  stream_->start([weak](ByteStream::State state, std::error_code error) {
    if (auto self = weak.lock()) self->handleState(state, error);
  });
  executor_.post([weak] {
    auto self = weak.lock();
    if (self && !self->closed_) self->readPrefix();
  });
}

void FramedConnection::handleState(ByteStream::State state, std::error_code error) {
  if (closed_) return;
  switch (state) {
    case ByteStream::State::preparing:
      break;
    case ByteStream::State::ready:
      if (onReady) onReady();
      break;
    case ByteStream::State::waiting:
    case ByteStream::State::failed:
      close(error);
      break;
    case ByteStream::State::cancelled:
      close(std::nullopt);
      break;
  }
}

void FramedConnection::readPrefix() {
  std::weak_ptr<FramedConnection> weak = weak_from_this();
  stream_->readExactly(kPrefixSize, [weak](std::error_code error, Bytes prefix, bool) {
    auto self = weak.lock();
    if (!self || self->closed_) return;
    if (error) return self->close(error);
    if (prefix.size() != kPrefixSize) return self->close(std::nullopt);

    const uint32_t length = readBigEndian32(prefix);
    if (length == 0 || length > self->maxLength_) return self->close(std::nullopt);
    const std::optional<MessageType> type = messageTypeFromCode(prefix[4]);
    if (!type) return self->close(std::nullopt);

    if (length == 1) return self->deliver(*type, Bytes{});
    self->readBody(*type, length - 1);
  });
}

void FramedConnection::readBody(MessageType type, size_t size) {
  std::weak_ptr<FramedConnection> weak = weak_from_this();
  stream_->readExactly(size, [weak, type, size](std::error_code error, Bytes body, bool) {
    auto self = weak.lock();
    if (!self || self->closed_) return;
    if (error) return self->close(error);
    if (body.size() != size) return self->close(std::nullopt);
    self->deliver(type, std::move(body));
  });
}

void FramedConnection::deliver(MessageType type, Bytes body) {
  if (onMessage) onMessage(type, std::move(body));
  // The handler may have closed us; reading resumes only after it returned.
  if (!closed_) readPrefix();
}

void FramedConnection::send(MessageType type, const Bytes& body, SendCompletion completion) {
  if (closed_) return;
  if (body.size() >= std::numeric_limits<uint32_t>::max()) {
    // The length field cannot express it; nothing goes out.
    if (completion) completion(std::make_error_code(std::errc::message_size));
    return;
  }
  const auto length = static_cast<uint32_t>(body.size() + 1);
  auto message = std::make_shared<Bytes>();
  message->reserve(body.size() + kPrefixSize);
  message->push_back(static_cast<uint8_t>(length >> 24));
  message->push_back(static_cast<uint8_t>(length >> 16));
  message->push_back(static_cast<uint8_t>(length >> 8));
  message->push_back(static_cast<uint8_t>(length));
  message->push_back(wireCode(type));
  message->insert(message->end(), body.begin(), body.end());
  stream_->write(std::move(message), [completion = std::move(completion)](std::error_code error) {
    if (completion) completion(error);
  });
}

void FramedConnection::close(std::optional<std::error_code> error) {
  if (closed_) return;
  closed_ = true;
  // The owner usually drops its reference in onClose; stay alive until the end.
  auto keepAlive = weak_from_this().lock();
  stream_->cancel();
  if (onClose) onClose(error);
  onClose = nullptr;
  onMessage = nullptr;
  onReady = nullptr;
}

void FramedConnection::cancelStream() { stream_->cancel(); }

}  // namespace vistaro
