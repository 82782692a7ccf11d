#pragma once

#include <asio/ip/udp.hpp>
#include <gnutls/gnutls.h>
#include <ngtcp2/ngtcp2.h>
#include <ngtcp2/ngtcp2_crypto.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "core/executor.h"
#include "reach/quic/quic_stream.h"
#include "reach/quic/quic_tls.h"

namespace vistaro::quic {

using Endpoint = asio::ip::udp::endpoint;

// Where a connection's packets go out: the socket it shares with others.
class DatagramSender {
 public:
  virtual ~DatagramSender() = default;
  virtual void sendDatagram(const Endpoint& to, const uint8_t* data, size_t size) = 0;
};

struct ConnectionOptions {
  std::chrono::milliseconds idleTimeout{30000};
  // Zero: none. Set once the handshake is done.
  std::chrono::milliseconds keepAlive{0};
  std::chrono::milliseconds handshakeTimeout{10000};
  // Streams the peer may have open at once (a server's limit for its clients).
  uint64_t peerStreams = 8;
};

// One QUIC connection (ngtcp2), server or client side, on one executor. Packets come in
// through receive() and leave through the sender; streams are ByteStreams.
class QuicConnection : public std::enable_shared_from_this<QuicConnection> {
 public:
  // Each runs on the executor, posted, never from inside receive().
  struct Events {
    std::function<void()> ready;
    std::function<void(std::shared_ptr<QuicStream>)> streamOpened;  // by the peer
    std::function<void(const std::string& cid)> cidIssued;
    std::function<void(const std::string& cid)> cidRetired;
    // Gone: nothing more goes in or out.
    std::function<void(std::error_code)> closed;
  };

  // For a client's first Initial packet (`header` from ngtcp2_accept); absent when it cannot
  // be set up.
  static std::shared_ptr<QuicConnection> accept(Executor& executor, DatagramSender& sender,
                                                gnutls_certificate_credentials_t credentials,
                                                const ConnectionOptions& options, const ngtcp2_pkt_hd& header,
                                                const Endpoint& local, const Endpoint& remote);
  // The client side; start() sends its first packet. An empty ALPN offers none.
  static std::shared_ptr<QuicConnection> connect(Executor& executor, DatagramSender& sender,
                                                 gnutls_certificate_credentials_t credentials,
                                                 const ConnectionOptions& options, const std::string& alpn,
                                                 const Endpoint& local, const Endpoint& remote);
  ~QuicConnection();
  QuicConnection(const QuicConnection&) = delete;
  QuicConnection& operator=(const QuicConnection&) = delete;

  void setEvents(Events events) { events_ = std::move(events); }
  void start() { flush(); }
  void receive(const Endpoint& from, const uint8_t* data, size_t size);
  // Client side, once ready: a new stream of our own; absent when the peer allows none.
  std::shared_ptr<QuicStream> openStream();
  // Tells the peer and goes.
  void close();
  bool closed() const { return closed_; }
  const Endpoint& remote() const { return remote_; }
  // The connection IDs packets for it arrive with, as the owner looks them up.
  std::vector<std::string> ownCids() const;

  // For its streams.
  void streamChanged();
  void consumed(int64_t stream, size_t bytes);
  void shutdownStream(int64_t stream, bool readingOnly);

 private:
  QuicConnection(Executor& executor, DatagramSender& sender, const ConnectionOptions& options, const Endpoint& local,
                 const Endpoint& remote);
  static ngtcp2_callbacks callbacks(bool server);
  static ngtcp2_conn* connOf(ngtcp2_crypto_conn_ref* ref);
  ngtcp2_tstamp now() const;
  PeerAddress peerAddress() const;

  void flush();
  bool writeOnePacket(std::vector<int64_t>& blocked, bool& sentSomething);
  void scheduleTimer();
  void expired();
  void fail(int liberr);
  void sendConnectionClose(const ngtcp2_connection_close_error& error);
  void drop(std::error_code reason);
  void post(std::function<void()> task);

  // ngtcp2 callbacks.
  static int onHandshakeCompleted(ngtcp2_conn*, void* self);
  static int onStreamOpen(ngtcp2_conn*, int64_t stream, void* self);
  static int onStreamData(ngtcp2_conn*, uint32_t flags, int64_t stream, uint64_t offset, const uint8_t* data,
                          size_t size, void* self, void*);
  static int onAcked(ngtcp2_conn*, int64_t stream, uint64_t offset, uint64_t length, void* self, void*);
  static int onStreamClose(ngtcp2_conn*, uint32_t flags, int64_t stream, uint64_t code, void* self, void*);
  static int onStreamReset(ngtcp2_conn*, int64_t stream, uint64_t size, uint64_t code, void* self, void*);
  static int onStopSending(ngtcp2_conn*, int64_t stream, uint64_t code, void* self, void*);
  static int onExtendStreamData(ngtcp2_conn*, int64_t stream, uint64_t max, void* self, void*);
  static int onNewCid(ngtcp2_conn*, ngtcp2_cid* cid, uint8_t* token, size_t length, void* self);
  static int onRetireCid(ngtcp2_conn*, const ngtcp2_cid* cid, void* self);
  static void random(uint8_t* dest, size_t length, const ngtcp2_rand_ctx*);

  Executor& executor_;
  DatagramSender& sender_;
  const ConnectionOptions options_;
  const Endpoint local_;
  Endpoint remote_;
  ngtcp2_crypto_conn_ref connRef_{&QuicConnection::connOf, this};
  ngtcp2_conn* conn_ = nullptr;
  TlsSessionPtr tls_;
  Events events_;
  std::map<int64_t, std::shared_ptr<QuicStream>> streams_;
  std::vector<std::string> cids_;
  bool closed_ = false;
  bool flushPosted_ = false;
  Cancellable timer_;
};

// The bytes of a connection ID, as connections are looked up by.
std::string cidKey(const uint8_t* data, size_t length);

}  // namespace vistaro::quic
