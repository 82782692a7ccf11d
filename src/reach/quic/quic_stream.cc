#include "reach/quic/quic_stream.h"

#include <algorithm>

#include "reach/quic/quic_connection.h"

namespace vistaro::quic {
namespace {

std::error_code cancelledError() { return std::make_error_code(std::errc::operation_canceled); }
std::error_code resetError() { return std::make_error_code(std::errc::connection_reset); }

}  // namespace

void QuicStream::post(std::function<void()> task) { executor_.post(std::move(task)); }

void QuicStream::start(StateHandler onState) {
  onState_ = std::move(onState);
  // The stream exists only once its connection is up.
  post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (self && self->onState_ && !self->finished_) self->onState_(State::ready, {});
  });
}

void QuicStream::readExactly(size_t count, ReadHandler done) {
  read_.emplace(PendingRead{count, false, std::move(done)});
  serveRead();
}

void QuicStream::readSome(size_t most, ReadHandler done) {
  read_.emplace(PendingRead{std::max<size_t>(most, 1), true, std::move(done)});
  serveRead();
}

void QuicStream::serveRead() {
  if (!read_) return;
  const size_t buffered = incoming_.size() - readAt_;
  std::error_code error;
  bool endOfStream = false;
  size_t take = 0;
  if (finished_) {
    error = readError_ ? readError_ : cancelledError();
  } else if (read_->some ? buffered > 0 : buffered >= read_->count) {
    take = std::min(buffered, read_->count);
  } else if (finReceived_) {
    take = buffered;
    endOfStream = true;
  } else if (readError_) {
    error = readError_;
  } else {
    return;
  }
  Bytes bytes(incoming_.begin() + static_cast<std::ptrdiff_t>(readAt_),
              incoming_.begin() + static_cast<std::ptrdiff_t>(readAt_ + take));
  readAt_ += take;
  if (readAt_ == incoming_.size() || readAt_ > 64 * 1024) {
    incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(readAt_));
    readAt_ = 0;
  }
  // The peer may send as much again as has been read.
  if (take > 0) {
    if (auto connection = connection_.lock()) connection->consumed(id_, take);
  }
  ReadHandler done = std::move(read_->done);
  read_.reset();
  post([done = std::move(done), error, bytes = std::move(bytes), endOfStream]() mutable {
    done(error, std::move(bytes), endOfStream);
  });
}

void QuicStream::received(const uint8_t* data, size_t size, bool fin) {
  incoming_.insert(incoming_.end(), data, data + size);
  if (fin) finReceived_ = true;
  serveRead();
}

void QuicStream::write(std::shared_ptr<const Bytes> bytes, WriteHandler done) {
  if (finished_ || finishing_ || writeError_) {
    const std::error_code error = writeError_ ? writeError_ : cancelledError();
    post([done = std::move(done), error] {
      if (done) done(error);
    });
    return;
  }
  const uint64_t begin = writtenOffset_;
  writtenOffset_ += bytes->size();
  outgoing_.push_back(Outgoing{std::move(bytes), begin, std::move(done)});
  if (auto connection = connection_.lock()) connection->streamChanged();
}

void QuicStream::finishWriting(WriteHandler done) {
  if (finished_ || finishing_ || writeError_) {
    const std::error_code error = writeError_ ? writeError_ : cancelledError();
    post([done = std::move(done), error] {
      if (done) done(error);
    });
    return;
  }
  finishing_ = true;
  finishDone_ = std::move(done);
  if (auto connection = connection_.lock()) connection->streamChanged();
}

size_t QuicStream::unsent(ngtcp2_vec* vecs, size_t capacity, bool& fin) const {
  size_t count = 0;
  uint64_t offered = sentOffset_;
  for (const Outgoing& piece : outgoing_) {
    if (count == capacity) break;
    const uint64_t end = piece.begin + piece.bytes->size();
    if (end <= sentOffset_) continue;
    const size_t skip = static_cast<size_t>(std::max(sentOffset_, piece.begin) - piece.begin);
    vecs[count++] = {const_cast<uint8_t*>(piece.bytes->data()) + skip, piece.bytes->size() - skip};
    offered = end;
  }
  fin = finishing_ && !finSent_ && offered == writtenOffset_;
  return count;
}

void QuicStream::sent(size_t bytes, bool fin) {
  sentOffset_ += bytes;
  if (fin && sentOffset_ == writtenOffset_) finSent_ = true;
  completeWrites();
}

// A write is done once QUIC has all of it; its bytes stay until the peer acknowledges them.
void QuicStream::completeWrites() {
  for (Outgoing& piece : outgoing_) {
    if (piece.begin + piece.bytes->size() > sentOffset_) break;
    if (piece.done) post([done = std::exchange(piece.done, nullptr)] { done({}); });
  }
}

void QuicStream::acked(uint64_t offset, uint64_t length) {
  ackedOffset_ = std::max(ackedOffset_, offset + length);
  while (!outgoing_.empty() && outgoing_.front().begin + outgoing_.front().bytes->size() <= ackedOffset_ &&
         !outgoing_.front().done) {
    outgoing_.pop_front();
  }
  if (finSent_ && ackedOffset_ == writtenOffset_ && finishDone_) {
    post([done = std::exchange(finishDone_, nullptr)] { done({}); });
  }
}

void QuicStream::peerReset() {
  readError_ = resetError();
  serveRead();
}

void QuicStream::peerStopped() {
  writeError_ = resetError();
  for (Outgoing& piece : outgoing_) {
    if (piece.done) post([done = std::exchange(piece.done, nullptr), error = writeError_] { done(error); });
  }
  if (finishDone_) post([done = std::exchange(finishDone_, nullptr), error = writeError_] { done(error); });
}

void QuicStream::ended(std::error_code error) {
  if (error) return fail(State::failed, error);
  // Closed by QUIC with both halves done: what arrived can still be read.
  if (!finReceived_ && !readError_) readError_ = resetError();
  if (!writeError_) writeError_ = resetError();
  serveRead();
}

void QuicStream::cancel() {
  if (finished_) return;
  // A finished and acknowledged sending half is left as it is: a reset could still make the
  // peer drop bytes it has not read yet.
  const bool sendingDone = finSent_ && ackedOffset_ == writtenOffset_;
  if (auto connection = connection_.lock()) connection->shutdownStream(id_, sendingDone);
  fail(State::cancelled, {});
}

// The state goes out first, then every pending read and write fails.
void QuicStream::fail(State state, std::error_code error) {
  if (finished_) return;
  finished_ = true;
  post([weak = weak_from_this(), state, error] {
    auto self = weak.lock();
    if (self && self->onState_) self->onState_(state, error);
  });
  const std::error_code failure = error ? error : cancelledError();
  readError_ = failure;
  serveRead();
  writeError_ = failure;
  for (Outgoing& piece : outgoing_) {
    if (piece.done) post([done = std::exchange(piece.done, nullptr), failure] { done(failure); });
  }
  outgoing_.clear();
  if (finishDone_) post([done = std::exchange(finishDone_, nullptr), failure] { done(failure); });
}

}  // namespace vistaro::quic
