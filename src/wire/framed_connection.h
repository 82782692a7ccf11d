#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include "core/executor.h"
#include "wire/byte_stream.h"
#include "wire/message_type.h"

namespace vistaro {

// Turns a byte stream into typed messages: a 4-byte big-endian length
// (1 + body), a type byte, the body. One read outstanding; a slow onMessage
// holds back reading.
class FramedConnection : public std::enable_shared_from_this<FramedConnection> {
 public:
  static constexpr uint32_t kMaxLength = 67'108'864;  // 2^26, type byte included

  using ReadyHandler = std::function<void()>;
  using MessageHandler = std::function<void(MessageType, Bytes body)>;
  using CloseHandler = std::function<void(std::optional<std::error_code>)>;
  using SendCompletion = std::function<void(std::error_code)>;

  static std::shared_ptr<FramedConnection> create(std::shared_ptr<ByteStream> stream, Executor& executor);

  // Set before start(); cleared by the first close.
  ReadyHandler onReady;
  MessageHandler onMessage;
  CloseHandler onClose;

  void start();
  // Longer messages end the connection (kMaxLength at most): before a peer has proved who
  // it is, it has no business sending more than a hello.
  void limitLength(uint32_t maxLength) { maxLength_ = std::min(maxLength, kMaxLength); }
  void send(MessageType type, const Bytes& body, SendCompletion completion = {});
  void close(std::optional<std::error_code> error = std::nullopt);
  bool closed() const { return closed_; }
  // Cancels the stream underneath; ends in onClose(nothing).
  void cancelStream();

 private:
  FramedConnection(std::shared_ptr<ByteStream> stream, Executor& executor);

  void handleState(ByteStream::State state, std::error_code error);
  void readPrefix();
  void readBody(MessageType type, size_t size);
  void deliver(MessageType type, Bytes body);

  std::shared_ptr<ByteStream> stream_;
  Executor& executor_;
  bool closed_ = false;
  uint32_t maxLength_ = kMaxLength;
};

}  // namespace vistaro
