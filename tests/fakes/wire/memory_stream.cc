#include "fakes/wire/memory_stream.h"

namespace vistaro::testing {

std::pair<std::shared_ptr<MemoryStream>, std::shared_ptr<MemoryStream>> MemoryStream::makePair(Executor& executor) {
  auto a = std::make_shared<MemoryStream>(executor);
  auto b = std::make_shared<MemoryStream>(executor);
  a->peerEnd_ = b;
  b->peerEnd_ = a;
  return {a, b};
}

void MemoryStream::start(StateHandler onState) {
  onState_ = std::move(onState);
  injectState(State::ready);
}

void MemoryStream::readExactly(size_t count, ReadHandler done) { enqueueRead(count, std::move(done), false); }

void MemoryStream::readSome(size_t most, ReadHandler done) { enqueueRead(most, std::move(done), true); }

void MemoryStream::enqueueRead(size_t count, ReadHandler done, bool some) {
  readRequests_.push_back(count);
  const size_t outstanding = pendingRead_ ? 2 : 1;
  maxOutstandingReads_ = std::max(maxOutstandingReads_, outstanding);
  pendingRead_ = PendingRead{count, std::move(done), some};
  serveRead();
}

void MemoryStream::serveRead() {
  if (!pendingRead_) return;
  const size_t count = pendingRead_->some ? std::min(pendingRead_->count, std::max<size_t>(incoming_.size(), 1))
                                          : pendingRead_->count;
  std::error_code error;
  Bytes bytes;
  bool ended = false;
  if (readError_) {
    error = std::exchange(readError_, {});
  } else if (incoming_.size() >= count) {
    bytes.assign(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(count));
    incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(count));
  } else if (endOfStream_) {
    bytes.assign(incoming_.begin(), incoming_.end());
    incoming_.clear();
    ended = true;
  } else {
    return;
  }
  ReadHandler done = std::move(pendingRead_->done);
  pendingRead_.reset();
  executor_.post([done = std::move(done), error, bytes = std::move(bytes), ended]() mutable {
    done(error, std::move(bytes), ended);
  });
}

void MemoryStream::write(std::shared_ptr<const Bytes> bytes, WriteHandler done) {
  ++writeCount_;
  std::error_code error = cancelled_ ? std::make_error_code(std::errc::operation_canceled) : writeError_;
  if (!error) {
    written_.insert(written_.end(), bytes->begin(), bytes->end());
    if (auto peer = peerEnd_.lock()) {
      std::weak_ptr<MemoryStream> weakPeer = peer;
      executor_.post([weakPeer, bytes] {
        if (auto peer = weakPeer.lock()) peer->injectBytes(*bytes);
      });
    }
  }
  completeWrite(error, std::move(done));
}

void MemoryStream::finishWriting(WriteHandler done) {
  writingFinished_ = true;
  if (auto peer = peerEnd_.lock()) {
    std::weak_ptr<MemoryStream> weakPeer = peer;
    executor_.post([weakPeer] {
      if (auto peer = weakPeer.lock()) peer->injectEndOfStream();
    });
  }
  completeWrite(cancelled_ ? std::make_error_code(std::errc::operation_canceled) : writeError_, std::move(done));
}

void MemoryStream::completeWrite(std::error_code error, WriteHandler done) {
  if (holdWrites_) {
    heldCompletions_.push_back([done = std::move(done), error] {
      if (done) done(error);
    });
    return;
  }
  executor_.post([done = std::move(done), error] {
    if (done) done(error);
  });
}

void MemoryStream::releaseWrites() {
  holdWrites_ = false;
  for (auto& completion : heldCompletions_) executor_.post(std::move(completion));
  heldCompletions_.clear();
}

void MemoryStream::cancel() {
  if (cancelled_) return;
  cancelled_ = true;
  injectState(State::cancelled);
  if (pendingRead_) injectReadError(std::make_error_code(std::errc::operation_canceled));
  if (auto peer = peerEnd_.lock()) {
    std::weak_ptr<MemoryStream> weakPeer = peer;
    executor_.post([weakPeer] {
      if (auto peer = weakPeer.lock()) peer->injectEndOfStream();
    });
  }
}

void MemoryStream::injectBytes(Bytes bytes) {
  incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
  serveRead();
}

void MemoryStream::injectEndOfStream() {
  endOfStream_ = true;
  serveRead();
}

void MemoryStream::injectReadError(std::error_code error) {
  readError_ = error;
  serveRead();
}

void MemoryStream::injectState(State state, std::error_code error) {
  std::weak_ptr<MemoryStream> weak = weak_from_this();
  executor_.post([weak, state, error] {
    auto self = weak.lock();
    if (self && self->onState_) self->onState_(state, error);
  });
}

}  // namespace vistaro::testing
