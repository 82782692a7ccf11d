#include "server/tls_stream.h"

#include <algorithm>

#include <asio/connect.hpp>
#include <asio/post.hpp>

#include "server/peer_address.h"
#include "server/tcp_options.h"
#include "server/tls_error.h"

namespace vistaro {

namespace {

std::error_code cancelledError() { return std::make_error_code(std::errc::operation_canceled); }

// A read's buffer starts at most this large and then doubles with what arrives.
constexpr size_t kFirstReadChunk = 64 * 1024;

}  // namespace

std::shared_ptr<TlsStream> TlsStream::accepted(AsioExecutor& executor, asio::ip::tcp::socket socket,
                                               TransportParameters parameters, std::optional<PeerAddress> relayedFrom) {
  std::shared_ptr<TlsStream> stream(
      new TlsStream(executor, std::move(socket), std::move(parameters), TlsSession::Role::server));
  if (relayedFrom) stream->peer_ = std::move(*relayedFrom);
  return stream;
}

std::shared_ptr<TlsStream> TlsStream::connecting(AsioExecutor& executor, std::string host, uint16_t port,
                                                 TransportParameters parameters) {
  std::shared_ptr<TlsStream> stream(new TlsStream(executor, asio::ip::tcp::socket(executor.context()),
                                                  std::move(parameters), TlsSession::Role::client));
  stream->phase_ = Phase::connecting;
  // Kept until start(): the connection begins only once the owner listens for states.
  stream->pendingHost_ = std::move(host);
  stream->pendingPort_ = port;
  return stream;
}

TlsStream::TlsStream(AsioExecutor& executor, asio::ip::tcp::socket socket, TransportParameters parameters,
                     TlsSession::Role role)
    : executor_(executor), socket_(std::move(socket)), parameters_(std::move(parameters)), role_(role) {
  std::error_code error;
  const auto remote = socket_.remote_endpoint(error);
  if (!error) peer_ = peerAddressOf(remote.address());
}

void TlsStream::start(StateHandler onState) {
  onState_ = std::move(onState);
  report(State::preparing, {});
  if (phase_ == Phase::connecting) {
    connect(std::move(pendingHost_), pendingPort_);
  } else if (phase_ == Phase::idle) {
    beginHandshake();
  }
}

void TlsStream::connect(std::string host, uint16_t port) {
  auto resolver = std::make_shared<asio::ip::tcp::resolver>(executor_.context());
  std::weak_ptr<TlsStream> weak = weak_from_this();
  resolver->async_resolve(
      host, std::to_string(port),
      [weak, resolver](std::error_code error, asio::ip::tcp::resolver::results_type endpoints) {
        auto self = weak.lock();
        if (!self || self->phase_ != Phase::connecting) return;
        if (error) return self->finish(State::failed, error);
        asio::async_connect(self->socket_, endpoints, [weak](std::error_code error, const asio::ip::tcp::endpoint&) {
          auto self = weak.lock();
          if (!self || self->phase_ != Phase::connecting) return;
          if (!error) error = applyTcpOptions(self->socket_);
          if (error) return self->finish(State::failed, error);
          self->beginHandshake();
        });
      });
}

void TlsStream::beginHandshake() {
  std::error_code error;
  socket_.non_blocking(true, error);
  if (!error) tls_ = TlsSession::create(role_, parameters_, socket_.native_handle(), error);
  if (error) return finish(State::failed, error);
  phase_ = Phase::handshaking;
  continueHandshake();
}

void TlsStream::continueHandshake() {
  int result;
  do {
    result = gnutls_handshake(tls_->get());
  } while (result < 0 && result != GNUTLS_E_AGAIN && !gnutls_error_is_fatal(result));

  if (result == GNUTLS_E_AGAIN) {
    const auto wait =
        gnutls_record_get_direction(tls_->get()) == 0 ? asio::socket_base::wait_read : asio::socket_base::wait_write;
    return waitUntil(wait, &TlsStream::continueHandshake, &handshakeWaiting_);
  }
  if (result < 0) {
    // GnuTLS stays silent on a failed handshake unless told; a wrong key then reads bad_record_mac.
    gnutls_alert_send_appropriate(tls_->get(), result);
    const bool keyTested = role_ == TlsSession::Role::server && tls_->keyRequested();
    return finish(State::failed, keyTested ? make_error_code(StreamError::keyRejected) : makeTlsError(result));
  }
  phase_ = Phase::open;
  report(State::ready, {});
  pumpRead();
  pumpWrite();
}

void TlsStream::waitUntil(asio::socket_base::wait_type wait, Step next, bool* waiting) {
  *waiting = true;
  std::weak_ptr<TlsStream> weak = weak_from_this();
  socket_.async_wait(wait, [weak, next, waiting](std::error_code error) {
    auto self = weak.lock();
    if (!self || self->phase_ == Phase::finished) return;
    *waiting = false;
    if (error) return self->finish(State::failed, error);
    (self.get()->*next)();
  });
}

void TlsStream::readExactly(size_t count, ReadHandler done) {
  if (phase_ == Phase::finished) {
    asio::post(executor_.context(), [done = std::move(done)] { done(cancelledError(), {}, false); });
    return;
  }
  read_.emplace(PendingRead{count, 0, Bytes(), std::move(done)});
  pumpRead();
}

void TlsStream::pumpRead() {
  if (phase_ != Phase::open || !read_ || readWaiting_) return;
  PendingRead& read = *read_;
  while (read.filled < read.count) {
    if (read.bytes.size() == read.filled) {
      read.bytes.resize(std::min(read.count, read.filled + std::max(read.filled, kFirstReadChunk)));
    }
    const ssize_t result =
        gnutls_record_recv(tls_->get(), read.bytes.data() + read.filled, read.bytes.size() - read.filled);
    if (result > 0) {
      read.filled += static_cast<size_t>(result);
    } else if (result == 0 || result == GNUTLS_E_PREMATURE_TERMINATION) {
      // Close-notify or a bare TCP close: either way the peer has finished.
      return completeRead({}, true);
    } else if (result == GNUTLS_E_AGAIN) {
      return waitUntil(asio::socket_base::wait_read, &TlsStream::pumpRead, &readWaiting_);
    } else if (gnutls_error_is_fatal(static_cast<int>(result))) {
      return completeRead(makeTlsError(static_cast<int>(result)), false);
    }
    // Anything else (interrupted, a warning alert, a renegotiation request) is passed over.
  }
  completeRead({}, false);
}

void TlsStream::completeRead(std::error_code error, bool endOfStream) {
  PendingRead read = std::move(*read_);
  read_.reset();
  read.bytes.resize(read.filled);
  // Posted, so a reader that asks again from its handler never recurses.
  asio::post(executor_.context(), [done = std::move(read.done), error, bytes = std::move(read.bytes),
                                   endOfStream]() mutable { done(error, std::move(bytes), endOfStream); });
}

void TlsStream::write(std::shared_ptr<const Bytes> bytes, WriteHandler done) {
  if (phase_ == Phase::finished) {
    asio::post(executor_.context(), [done = std::move(done)] {
      if (done) done(cancelledError());
    });
    return;
  }
  writes_.push_back(PendingWrite{std::move(bytes), 0, std::move(done)});
  pumpWrite();
}

void TlsStream::pumpWrite() {
  if (phase_ != Phase::open || writeWaiting_) return;
  while (!writes_.empty()) {
    PendingWrite& write = writes_.front();
    while (write.sent < write.bytes->size()) {
      // After "try again" GnuTLS wants the same arguments, which data + sent still are.
      const ssize_t result =
          gnutls_record_send(tls_->get(), write.bytes->data() + write.sent, write.bytes->size() - write.sent);
      if (result > 0) {
        write.sent += static_cast<size_t>(result);
      } else if (result == GNUTLS_E_AGAIN) {
        return waitUntil(asio::socket_base::wait_write, &TlsStream::pumpWrite, &writeWaiting_);
      } else if (result != GNUTLS_E_INTERRUPTED) {
        return finish(State::failed, makeTlsError(static_cast<int>(result)));
      }
    }
    asio::post(executor_.context(), [done = std::move(write.done)] {
      if (done) done({});
    });
    writes_.pop_front();
  }
}

void TlsStream::cancel() {
  if (phase_ == Phase::open && writes_.empty()) {
    // Best effort close-notify; the socket is non-blocking, so this never waits.
    gnutls_bye(tls_->get(), GNUTLS_SHUT_WR);
  }
  finish(State::cancelled, cancelledError());
}

// The state goes out first, then every pending read and write fails with the error.
void TlsStream::finish(State state, std::error_code error) {
  if (phase_ == Phase::finished) return;
  phase_ = Phase::finished;
  report(state, state == State::cancelled ? std::error_code{} : error);
  std::error_code ignored;
  socket_.close(ignored);
  if (read_) completeRead(error, false);
  for (PendingWrite& write : writes_) {
    asio::post(executor_.context(), [done = std::move(write.done), error] {
      if (done) done(error);
    });
  }
  writes_.clear();
}

void TlsStream::report(State state, std::error_code error) {
  std::weak_ptr<TlsStream> weak = weak_from_this();
  asio::post(executor_.context(), [weak, state, error] {
    auto self = weak.lock();
    if (self && self->onState_) self->onState_(state, error);
  });
}

}  // namespace vistaro
