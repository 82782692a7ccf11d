#include "reach/quic/quic_connection.h"

#include <gnutls/crypto.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "reach/quic/quic_error.h"
#include "server/peer_address.h"

namespace vistaro::quic {
namespace {

constexpr size_t kCidLength = 18;
// Receive windows: what a peer may send ahead of what has been read, per stream and in all.
constexpr uint64_t kStreamWindow = 256 * 1024;
constexpr uint64_t kConnectionWindow = 1024 * 1024;
constexpr uint64_t kLargestStreamWindow = 1024 * 1024;
constexpr uint64_t kLargestConnectionWindow = 4 * 1024 * 1024;
// Then the queue gets a turn before the next packets go.
constexpr size_t kPacketsPerFlush = 64;
constexpr size_t kLargestPacket = 1500;
// ngtcp2 0.12 keeps up to three pieces of a STREAM frame inline in its retransmission records;
// records for more are allocated apart and leak when a lost frame is split for resending.
constexpr size_t kVecsPerPacket = 3;

ngtcp2_duration nanos(std::chrono::milliseconds duration) {
  return static_cast<ngtcp2_duration>(duration.count()) * NGTCP2_MILLISECONDS;
}

ngtcp2_cid randomCid() {
  ngtcp2_cid cid{};
  cid.datalen = kCidLength;
  gnutls_rnd(GNUTLS_RND_NONCE, cid.data, kCidLength);
  return cid;
}

Endpoint endpointOf(const ngtcp2_addr& address) {
  Endpoint endpoint;
  const size_t size = std::min<size_t>(address.addrlen, endpoint.capacity());
  std::memcpy(endpoint.data(), address.addr, size);
  endpoint.resize(size);
  return endpoint;
}

ngtcp2_addr addressOf(const Endpoint& endpoint) {
  return {const_cast<ngtcp2_sockaddr*>(reinterpret_cast<const ngtcp2_sockaddr*>(endpoint.data())),
          static_cast<ngtcp2_socklen>(endpoint.size())};
}

template <typename Handler, typename... Args>
void emit(const Handler& handler, Args&&... args) {
  if (handler) handler(std::forward<Args>(args)...);
}

QuicConnection& of(void* self) { return *static_cast<QuicConnection*>(self); }

}  // namespace

std::string cidKey(const uint8_t* data, size_t length) { return std::string(reinterpret_cast<const char*>(data), length); }

namespace {

ngtcp2_settings settingsFor(const ConnectionOptions& options, ngtcp2_tstamp now) {
  ngtcp2_settings settings;
  ngtcp2_settings_default(&settings);
  settings.initial_ts = now;
  settings.max_window = kLargestConnectionWindow;
  settings.max_stream_window = kLargestStreamWindow;
  settings.handshake_timeout = nanos(options.handshakeTimeout);
  return settings;
}

// The windows and limits both sides offer; a server adds one for the streams its client opens.
ngtcp2_transport_params paramsFor(const ConnectionOptions& options) {
  ngtcp2_transport_params params;
  ngtcp2_transport_params_default(&params);
  params.initial_max_stream_data_bidi_local = kStreamWindow;
  params.initial_max_data = kConnectionWindow;
  params.initial_max_streams_bidi = options.peerStreams;
  params.initial_max_streams_uni = 0;
  params.max_idle_timeout = nanos(options.idleTimeout);
  return params;
}

}  // namespace

QuicConnection::QuicConnection(Executor& executor, DatagramSender& sender, const ConnectionOptions& options,
                               const Endpoint& local, const Endpoint& remote)
    : executor_(executor), sender_(sender), options_(options), local_(local), remote_(remote) {}

QuicConnection::~QuicConnection() {
  timer_.cancel();
  if (conn_) ngtcp2_conn_del(conn_);
}

std::shared_ptr<QuicConnection> QuicConnection::accept(Executor& executor, DatagramSender& sender,
                                                       gnutls_certificate_credentials_t credentials,
                                                       const ConnectionOptions& options, const ngtcp2_pkt_hd& header,
                                                       const Endpoint& local, const Endpoint& remote) {
  std::shared_ptr<QuicConnection> connection(new QuicConnection(executor, sender, options, local, remote));
  const ngtcp2_settings settings = settingsFor(options, connection->now());
  ngtcp2_transport_params params = paramsFor(options);
  params.initial_max_stream_data_bidi_remote = kStreamWindow;
  // A greased fixed bit would let a peer's short packet start with 00 and be taken for STUN on
  // the listener's shared port.
  params.grease_quic_bit = 0;
  params.original_dcid = header.dcid;
  const ngtcp2_cid scid = randomCid();
  const ngtcp2_callbacks callbacks = QuicConnection::callbacks(true);
  ngtcp2_path path{addressOf(connection->local_), addressOf(connection->remote_), nullptr};
  if (ngtcp2_conn_server_new(&connection->conn_, &header.scid, &scid, &path, header.version, &callbacks, &settings,
                             &params, nullptr, connection.get()) != 0) {
    connection->conn_ = nullptr;
    return nullptr;
  }
  connection->tls_ = makeServerTlsSession(credentials, &connection->connRef_);
  if (!connection->tls_) return nullptr;
  ngtcp2_conn_set_tls_native_handle(connection->conn_, connection->tls_.get());
  connection->cids_ = {cidKey(header.dcid.data, header.dcid.datalen), cidKey(scid.data, scid.datalen)};
  return connection;
}

std::shared_ptr<QuicConnection> QuicConnection::connect(Executor& executor, DatagramSender& sender,
                                                        gnutls_certificate_credentials_t credentials,
                                                        const ConnectionOptions& options, const std::string& alpn,
                                                        const Endpoint& local, const Endpoint& remote) {
  std::shared_ptr<QuicConnection> connection(new QuicConnection(executor, sender, options, local, remote));
  const ngtcp2_settings settings = settingsFor(options, connection->now());
  const ngtcp2_transport_params params = paramsFor(options);
  const ngtcp2_cid dcid = randomCid();
  const ngtcp2_cid scid = randomCid();
  const ngtcp2_callbacks callbacks = QuicConnection::callbacks(false);
  ngtcp2_path path{addressOf(connection->local_), addressOf(connection->remote_), nullptr};
  if (ngtcp2_conn_client_new(&connection->conn_, &dcid, &scid, &path, NGTCP2_PROTO_VER_V1, &callbacks, &settings,
                             &params, nullptr, connection.get()) != 0) {
    connection->conn_ = nullptr;
    return nullptr;
  }
  connection->tls_ = makeClientTlsSession(credentials, alpn, &connection->connRef_);
  if (!connection->tls_) return nullptr;
  ngtcp2_conn_set_tls_native_handle(connection->conn_, connection->tls_.get());
  connection->cids_ = {cidKey(scid.data, scid.datalen)};
  return connection;
}

ngtcp2_callbacks QuicConnection::callbacks(bool server) {
  ngtcp2_callbacks callbacks{};
  if (server) {
    callbacks.recv_client_initial = ngtcp2_crypto_recv_client_initial_cb;
  } else {
    callbacks.client_initial = ngtcp2_crypto_client_initial_cb;
    callbacks.recv_retry = ngtcp2_crypto_recv_retry_cb;
  }
  callbacks.recv_crypto_data = ngtcp2_crypto_recv_crypto_data_cb;
  callbacks.encrypt = ngtcp2_crypto_encrypt_cb;
  callbacks.decrypt = ngtcp2_crypto_decrypt_cb;
  callbacks.hp_mask = ngtcp2_crypto_hp_mask_cb;
  callbacks.update_key = ngtcp2_crypto_update_key_cb;
  callbacks.delete_crypto_aead_ctx = ngtcp2_crypto_delete_crypto_aead_ctx_cb;
  callbacks.delete_crypto_cipher_ctx = ngtcp2_crypto_delete_crypto_cipher_ctx_cb;
  callbacks.get_path_challenge_data = ngtcp2_crypto_get_path_challenge_data_cb;
  callbacks.version_negotiation = ngtcp2_crypto_version_negotiation_cb;
  callbacks.rand = &QuicConnection::random;
  callbacks.get_new_connection_id = &QuicConnection::onNewCid;
  callbacks.remove_connection_id = &QuicConnection::onRetireCid;
  callbacks.handshake_completed = &QuicConnection::onHandshakeCompleted;
  callbacks.stream_open = &QuicConnection::onStreamOpen;
  callbacks.recv_stream_data = &QuicConnection::onStreamData;
  callbacks.acked_stream_data_offset = &QuicConnection::onAcked;
  callbacks.stream_close = &QuicConnection::onStreamClose;
  callbacks.stream_reset = &QuicConnection::onStreamReset;
  callbacks.stream_stop_sending = &QuicConnection::onStopSending;
  callbacks.extend_max_stream_data = &QuicConnection::onExtendStreamData;
  return callbacks;
}

ngtcp2_conn* QuicConnection::connOf(ngtcp2_crypto_conn_ref* ref) { return of(ref->user_data).conn_; }

ngtcp2_tstamp QuicConnection::now() const {
  return static_cast<ngtcp2_tstamp>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(executor_.now().time_since_epoch()).count());
}

PeerAddress QuicConnection::peerAddress() const { return peerAddressOf(remote_.address()); }

void QuicConnection::post(std::function<void()> task) {
  executor_.post([weak = weak_from_this(), task = std::move(task)] {
    if (weak.lock()) task();
  });
}

void QuicConnection::receive(const Endpoint& from, const uint8_t* data, size_t size) {
  if (closed_ || size == 0) return;
  ngtcp2_path path{addressOf(local_), addressOf(from), nullptr};
  ngtcp2_pkt_info info{};
  const int result = ngtcp2_conn_read_pkt(conn_, &path, &info, data, size, now());
  if (result == NGTCP2_ERR_DRAINING) return drop(QuicClosed::byPeer);
  if (result == NGTCP2_ERR_DROP_CONN) return drop(makeQuicError(result));
  if (result != 0) return fail(result);
  remote_ = from;
  flush();
}

std::shared_ptr<QuicStream> QuicConnection::openStream() {
  int64_t id = -1;
  if (closed_ || ngtcp2_conn_open_bidi_stream(conn_, &id, nullptr) != 0) return nullptr;
  auto stream = std::make_shared<QuicStream>(executor_, weak_from_this(), id, peerAddress());
  streams_[id] = stream;
  return stream;
}

std::vector<std::string> QuicConnection::ownCids() const { return cids_; }

void QuicConnection::streamChanged() {
  if (flushPosted_ || closed_) return;
  flushPosted_ = true;
  post([this] {
    flushPosted_ = false;
    flush();
  });
}

void QuicConnection::consumed(int64_t stream, size_t bytes) {
  if (closed_) return;
  ngtcp2_conn_extend_max_stream_offset(conn_, stream, bytes);
  ngtcp2_conn_extend_max_offset(conn_, bytes);
  streamChanged();
}

void QuicConnection::shutdownStream(int64_t stream, bool readingOnly) {
  if (closed_) return;
  if (readingOnly) {
    ngtcp2_conn_shutdown_stream_read(conn_, stream, 0);
  } else {
    ngtcp2_conn_shutdown_stream(conn_, stream, 0);
  }
  streamChanged();
}

void QuicConnection::flush() {
  if (closed_) return;
  std::vector<int64_t> blocked;
  size_t packets = 0;
  for (bool more = true; more && packets < kPacketsPerFlush; ++packets) {
    if (!writeOnePacket(blocked, more)) return;
  }
  if (packets == kPacketsPerFlush) streamChanged();
  scheduleTimer();
}

// One packet, with data of the first stream that has some and is not blocked; false when the
// connection failed. `more`: try another packet.
bool QuicConnection::writeOnePacket(std::vector<int64_t>& blocked, bool& more) {
  QuicStream* stream = nullptr;
  for (const auto& [id, candidate] : streams_) {
    if (candidate->hasUnsent() && std::find(blocked.begin(), blocked.end(), id) == blocked.end()) {
      stream = candidate.get();
      break;
    }
  }
  std::array<ngtcp2_vec, kVecsPerPacket> vecs;
  bool fin = false;
  const size_t count = stream ? stream->unsent(vecs.data(), vecs.size(), fin) : 0;
  size_t offered = 0;
  for (size_t i = 0; i < count; ++i) offered += vecs[i].len;

  std::array<uint8_t, kLargestPacket> packet;
  ngtcp2_path_storage path;
  ngtcp2_path_storage_zero(&path);
  ngtcp2_pkt_info info{};
  ngtcp2_ssize taken = -1;
  const size_t room = std::min(packet.size(), ngtcp2_conn_get_max_tx_udp_payload_size(conn_));
  const ngtcp2_ssize written = ngtcp2_conn_writev_stream(
      conn_, &path.path, &info, packet.data(), room, &taken, fin ? NGTCP2_WRITE_STREAM_FLAG_FIN : 0,
      stream ? stream->id() : -1, vecs.data(), count, now());
  if (written < 0) {
    if (stream && (written == NGTCP2_ERR_STREAM_DATA_BLOCKED || written == NGTCP2_ERR_STREAM_SHUT_WR ||
                   written == NGTCP2_ERR_STREAM_NOT_FOUND)) {
      blocked.push_back(stream->id());
      more = true;
      return true;
    }
    fail(static_cast<int>(written));
    return false;
  }
  if (stream && taken >= 0) stream->sent(static_cast<size_t>(taken), fin && static_cast<size_t>(taken) == offered);
  more = written > 0;
  if (more) sender_.sendDatagram(endpointOf(path.path.remote), packet.data(), static_cast<size_t>(written));
  return true;
}

void QuicConnection::scheduleTimer() {
  timer_.cancel();
  const ngtcp2_tstamp expiry = ngtcp2_conn_get_expiry(conn_);
  if (expiry == UINT64_MAX) return;
  const ngtcp2_tstamp current = now();
  const auto delay = std::chrono::nanoseconds(expiry > current ? expiry - current : 0);
  timer_ = executor_.postAfter(std::chrono::duration_cast<Duration>(delay), [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->expired();
  });
}

void QuicConnection::expired() {
  if (closed_) return;
  const int result = ngtcp2_conn_handle_expiry(conn_, now());
  if (result == NGTCP2_ERR_IDLE_CLOSE) return drop(QuicClosed::idle);
  if (result != 0) return fail(result);
  flush();
}

void QuicConnection::close() {
  if (closed_) return;
  ngtcp2_connection_close_error error;
  ngtcp2_connection_close_error_set_application_error(&error, 0, nullptr, 0);
  sendConnectionClose(error);
  drop(std::make_error_code(std::errc::operation_canceled));
}

// Tells the peer why (a refused ALPN, say, as its TLS alert) and goes.
void QuicConnection::fail(int liberr) {
  if (closed_) return;
  ngtcp2_connection_close_error error;
  ngtcp2_connection_close_error_default(&error);
  if (liberr == NGTCP2_ERR_CRYPTO) {
    ngtcp2_connection_close_error_set_transport_error_tls_alert(&error, ngtcp2_conn_get_tls_alert(conn_), nullptr, 0);
  } else {
    ngtcp2_connection_close_error_set_transport_error_liberr(&error, liberr, nullptr, 0);
  }
  if (!ngtcp2_conn_is_in_closing_period(conn_) && !ngtcp2_conn_is_in_draining_period(conn_)) {
    sendConnectionClose(error);
  }
  drop(makeQuicError(liberr));
}

void QuicConnection::sendConnectionClose(const ngtcp2_connection_close_error& error) {
  std::array<uint8_t, kLargestPacket> packet;
  ngtcp2_path_storage path;
  ngtcp2_path_storage_zero(&path);
  ngtcp2_pkt_info info{};
  const ngtcp2_ssize written =
      ngtcp2_conn_write_connection_close(conn_, &path.path, &info, packet.data(), packet.size(), &error, now());
  if (written > 0) sender_.sendDatagram(endpointOf(path.path.remote), packet.data(), static_cast<size_t>(written));
}

void QuicConnection::drop(std::error_code reason) {
  if (closed_) return;
  closed_ = true;
  timer_.cancel();
  auto streams = std::move(streams_);
  streams_.clear();
  for (auto& [id, stream] : streams) stream->ended(reason);
  post([this, reason] { emit(events_.closed, reason); });
}

int QuicConnection::onHandshakeCompleted(ngtcp2_conn* conn, void* self) {
  QuicConnection& connection = of(self);
  if (connection.options_.keepAlive.count() > 0) {
    ngtcp2_conn_set_keep_alive_timeout(conn, nanos(connection.options_.keepAlive));
  }
  connection.post([&connection] { emit(connection.events_.ready); });
  return 0;
}

int QuicConnection::onStreamOpen(ngtcp2_conn*, int64_t id, void* self) {
  QuicConnection& connection = of(self);
  if (!ngtcp2_is_bidi_stream(id)) return 0;
  auto stream = std::make_shared<QuicStream>(connection.executor_, connection.weak_from_this(), id,
                                             connection.peerAddress());
  connection.streams_[id] = stream;
  connection.post([&connection, stream] { emit(connection.events_.streamOpened, stream); });
  return 0;
}

int QuicConnection::onStreamData(ngtcp2_conn*, uint32_t flags, int64_t id, uint64_t, const uint8_t* data, size_t size,
                                 void* self, void*) {
  QuicConnection& connection = of(self);
  if (auto found = connection.streams_.find(id); found != connection.streams_.end()) {
    found->second->received(data, size, flags & NGTCP2_STREAM_DATA_FLAG_FIN);
  }
  return 0;
}

int QuicConnection::onAcked(ngtcp2_conn*, int64_t id, uint64_t offset, uint64_t length, void* self, void*) {
  QuicConnection& connection = of(self);
  if (auto found = connection.streams_.find(id); found != connection.streams_.end()) found->second->acked(offset, length);
  return 0;
}

int QuicConnection::onStreamClose(ngtcp2_conn* conn, uint32_t, int64_t id, uint64_t, void* self, void*) {
  QuicConnection& connection = of(self);
  if (auto found = connection.streams_.find(id); found != connection.streams_.end()) {
    found->second->ended({});
    connection.streams_.erase(found);
  }
  // The peer may open another in its place.
  if (!ngtcp2_conn_is_local_stream(conn, id) && ngtcp2_is_bidi_stream(id)) ngtcp2_conn_extend_max_streams_bidi(conn, 1);
  return 0;
}

int QuicConnection::onStreamReset(ngtcp2_conn*, int64_t id, uint64_t, uint64_t, void* self, void*) {
  QuicConnection& connection = of(self);
  if (auto found = connection.streams_.find(id); found != connection.streams_.end()) found->second->peerReset();
  return 0;
}

int QuicConnection::onStopSending(ngtcp2_conn*, int64_t id, uint64_t, void* self, void*) {
  QuicConnection& connection = of(self);
  if (auto found = connection.streams_.find(id); found != connection.streams_.end()) found->second->peerStopped();
  return 0;
}

int QuicConnection::onExtendStreamData(ngtcp2_conn*, int64_t, uint64_t, void* self, void*) {
  of(self).streamChanged();
  return 0;
}

int QuicConnection::onNewCid(ngtcp2_conn*, ngtcp2_cid* cid, uint8_t* token, size_t length, void* self) {
  QuicConnection& connection = of(self);
  cid->datalen = length;
  if (gnutls_rnd(GNUTLS_RND_NONCE, cid->data, length) != 0 ||
      gnutls_rnd(GNUTLS_RND_NONCE, token, NGTCP2_STATELESS_RESET_TOKENLEN) != 0) {
    return NGTCP2_ERR_CALLBACK_FAILURE;
  }
  std::string key = cidKey(cid->data, cid->datalen);
  connection.cids_.push_back(key);
  connection.post([&connection, key] { emit(connection.events_.cidIssued, key); });
  return 0;
}

int QuicConnection::onRetireCid(ngtcp2_conn*, const ngtcp2_cid* cid, void* self) {
  QuicConnection& connection = of(self);
  std::string key = cidKey(cid->data, cid->datalen);
  std::erase(connection.cids_, key);
  connection.post([&connection, key] { emit(connection.events_.cidRetired, key); });
  return 0;
}

void QuicConnection::random(uint8_t* dest, size_t length, const ngtcp2_rand_ctx*) {
  gnutls_rnd(GNUTLS_RND_NONCE, dest, length);
}

}  // namespace vistaro::quic
