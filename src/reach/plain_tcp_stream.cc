#include "reach/plain_tcp_stream.h"

#include <algorithm>

#include <asio/post.hpp>
#include <asio/write.hpp>

#include "server/peer_address.h"
#include "server/tcp_options.h"

namespace vistaro {
namespace {

std::error_code cancelledError() { return std::make_error_code(std::errc::operation_canceled); }

}  // namespace

std::shared_ptr<PlainTcpStream> PlainTcpStream::connecting(AsioExecutor& executor, const asio::ip::tcp::endpoint& to,
                                                           std::error_code& error) {
  asio::ip::tcp::socket socket(executor.context());
  const asio::ip::address local =
      to.address().is_loopback() ? to.address()
                                 : (to.address().is_v4() ? asio::ip::address(asio::ip::address_v4::any())
                                                         : asio::ip::address(asio::ip::address_v6::any()));
  socket.open(to.protocol(), error);
  if (!error) socket.bind({local, 0}, error);
  if (error) return nullptr;
  std::shared_ptr<PlainTcpStream> stream(new PlainTcpStream(executor, std::move(socket)));
  stream->connectTo_ = to;
  stream->peer_ = peerAddressOf(to.address());
  return stream;
}

std::shared_ptr<PlainTcpStream> PlainTcpStream::accepted(AsioExecutor& executor, asio::ip::tcp::socket socket) {
  std::shared_ptr<PlainTcpStream> stream(new PlainTcpStream(executor, std::move(socket)));
  std::error_code error;
  const auto remote = stream->socket_.remote_endpoint(error);
  if (!error) stream->peer_ = peerAddressOf(remote.address());
  return stream;
}

PlainTcpStream::PlainTcpStream(AsioExecutor& executor, asio::ip::tcp::socket socket)
    : executor_(executor), socket_(std::move(socket)) {
  std::error_code error;
  const auto local = socket_.local_endpoint(error);
  if (!error) localPort_ = local.port();
}

void PlainTcpStream::start(StateHandler onState) {
  onState_ = std::move(onState);
  report(State::preparing, {});
  if (!connectTo_) return opened();
  std::weak_ptr<PlainTcpStream> weak = weak_from_this();
  socket_.async_connect(*connectTo_, [weak](std::error_code error) {
    auto self = weak.lock();
    if (!self || self->finished_) return;
    if (!error) error = applyTcpOptions(self->socket_);
    if (error) return self->finish(State::failed, error);
    self->opened();
  });
}

void PlainTcpStream::opened() {
  open_ = true;
  report(State::ready, {});
  readMore();
  writeNext();
}

void PlainTcpStream::readExactly(size_t count, ReadHandler done) {
  read_.emplace(PendingRead{count, false, Bytes(), std::move(done)});
  readMore();
}

void PlainTcpStream::readSome(size_t most, ReadHandler done) {
  read_.emplace(PendingRead{std::max<size_t>(most, 1), true, Bytes(), std::move(done)});
  readMore();
}

// Waits until bytes are there and takes what has come, so memory follows the bytes received.
void PlainTcpStream::readMore() {
  if (finished_) return completeRead(cancelledError(), false);
  if (!open_ || !read_ || reading_) return;
  reading_ = true;
  std::weak_ptr<PlainTcpStream> weak = weak_from_this();
  socket_.async_wait(asio::socket_base::wait_read, [weak](std::error_code error) {
    auto self = weak.lock();
    if (!self) return;
    self->reading_ = false;
    if (self->finished_ || !self->read_) return;
    if (error) return self->completeRead(error, false);
    PendingRead& read = *self->read_;
    const size_t available = self->socket_.available(error);
    const size_t chunk = std::min(read.count - read.bytes.size(), std::max<size_t>(available, 1));
    const size_t filled = read.bytes.size();
    read.bytes.resize(filled + chunk);
    const size_t got = self->socket_.read_some(asio::buffer(read.bytes.data() + filled, chunk), error);
    read.bytes.resize(filled + got);
    if (error == asio::error::would_block || error == asio::error::try_again) {
      error = {};
    } else if (error == asio::error::eof) {
      return self->completeRead({}, true);
    } else if (error) {
      return self->completeRead(error, false);
    }
    if (read.some ? !read.bytes.empty() : read.bytes.size() == read.count) return self->completeRead({}, false);
    self->readMore();
  });
}

void PlainTcpStream::completeRead(std::error_code error, bool endOfStream) {
  if (!read_) return;
  PendingRead read = std::move(*read_);
  read_.reset();
  asio::post(executor_.context(), [done = std::move(read.done), error, bytes = std::move(read.bytes),
                                   endOfStream]() mutable { done(error, std::move(bytes), endOfStream); });
}

void PlainTcpStream::write(std::shared_ptr<const Bytes> bytes, WriteHandler done) {
  enqueue({std::move(bytes), std::move(done)});
}

void PlainTcpStream::finishWriting(WriteHandler done) { enqueue({nullptr, std::move(done)}); }

void PlainTcpStream::enqueue(PendingWrite write) {
  if (finished_) {
    asio::post(executor_.context(), [done = std::move(write.done)] {
      if (done) done(cancelledError());
    });
    return;
  }
  writes_.push_back(std::move(write));
  writeNext();
}

void PlainTcpStream::writeNext() {
  if (!open_ || writing_ || writes_.empty()) return;
  PendingWrite& next = writes_.front();
  if (!next.bytes) {
    std::error_code error;
    socket_.shutdown(asio::socket_base::shutdown_send, error);
    asio::post(executor_.context(), [done = std::move(next.done), error] {
      if (done) done(error);
    });
    writes_.pop_front();
    return writeNext();
  }
  writing_ = true;
  std::weak_ptr<PlainTcpStream> weak = weak_from_this();
  asio::async_write(socket_, asio::buffer(*next.bytes), [weak, bytes = next.bytes](std::error_code error, size_t) {
    auto self = weak.lock();
    if (!self) return;
    self->writing_ = false;
    if (self->finished_) return;
    if (error) return self->finish(State::failed, error);
    WriteHandler done = std::move(self->writes_.front().done);
    self->writes_.pop_front();
    if (done) done({});
    self->writeNext();
  });
}

void PlainTcpStream::cancel() { finish(State::cancelled, {}); }

// The state goes out first, then every pending read and write fails.
void PlainTcpStream::finish(State state, std::error_code error) {
  if (finished_) return;
  finished_ = true;
  report(state, error);
  std::error_code ignored;
  socket_.close(ignored);
  const std::error_code failure = error ? error : cancelledError();
  completeRead(failure, false);
  for (PendingWrite& write : writes_) {
    asio::post(executor_.context(), [done = std::move(write.done), failure] {
      if (done) done(failure);
    });
  }
  writes_.clear();
}

void PlainTcpStream::report(State state, std::error_code error) {
  asio::post(executor_.context(), [weak = weak_from_this(), state, error] {
    auto self = weak.lock();
    if (self && self->onState_) self->onState_(state, error);
  });
}

}  // namespace vistaro
