#include "reach/connection_pipe.h"

#include <utility>

namespace vistaro {

std::shared_ptr<ConnectionPipe> ConnectionPipe::create(std::shared_ptr<ByteStream> a, std::shared_ptr<ByteStream> b,
                                                       Executor& queue) {
  return std::shared_ptr<ConnectionPipe>(new ConnectionPipe(std::move(a), std::move(b), queue));
}

void ConnectionPipe::start() {
  std::weak_ptr<ConnectionPipe> weak = weak_from_this();
  for (Side side : {Side::a, Side::b}) {
    stream(side).start([weak](ByteStream::State state, std::error_code) {
      auto self = weak.lock();
      if (self && (state == ByteStream::State::failed || state == ByteStream::State::cancelled)) self->close();
    });
  }
  pump(Side::a);
  pump(Side::b);
}

void ConnectionPipe::pump(Side from) {
  std::weak_ptr<ConnectionPipe> weak = weak_from_this();
  stream(from).readSome(kMaxRead, [weak, from](std::error_code error, Bytes bytes, bool endOfStream) {
    auto self = weak.lock();
    if (!self || self->closed_) return;
    if (!bytes.empty()) return self->forward(from, std::move(bytes), endOfStream);
    if (endOfStream) return self->ended(from);
    if (error) return self->close();
    self->pump(from);
  });
}

void ConnectionPipe::forward(Side from, Bytes bytes, bool endOfStream) {
  if (from == Side::b && onFirstData) std::exchange(onFirstData, nullptr)();
  std::weak_ptr<ConnectionPipe> weak = weak_from_this();
  stream(other(from)).write(std::make_shared<const Bytes>(std::move(bytes)), [weak, from, endOfStream](std::error_code error) {
    auto self = weak.lock();
    if (!self || self->closed_) return;
    if (error) return self->close();
    if (endOfStream) return self->ended(from);
    self->pump(from);
  });
}

// Whatever the ended side said last (the hub's "auth" error, say) still reaches the other
// side before the pipe closes.
void ConnectionPipe::ended(Side from) {
  if (ending_) return;
  ending_ = true;
  std::weak_ptr<ConnectionPipe> weak = weak_from_this();
  stream(other(from)).finishWriting([weak](std::error_code) {
    if (auto self = weak.lock()) self->close();
  });
}

void ConnectionPipe::close() {
  queue_.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->tearDown();
  });
}

void ConnectionPipe::tearDown() {
  if (closed_) return;
  closed_ = true;
  a_->cancel();
  b_->cancel();
  if (onClose) std::exchange(onClose, nullptr)();
}

}  // namespace vistaro
