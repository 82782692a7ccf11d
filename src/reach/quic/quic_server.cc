#include "reach/quic/quic_server.h"

#include <gnutls/crypto.h>

#include <array>

namespace vistaro::quic {
namespace {

constexpr size_t kShortHeaderCidLength = 18;
// Smaller datagrams cannot be a client's first flight and get no answer (no amplification).
constexpr size_t kSmallestInitialDatagram = 1200;

}  // namespace

QuicServer::~QuicServer() {
  auto connections = std::move(connections_);
  for (auto& [raw, connection] : connections) connection->close();
}

void QuicServer::receive(const Endpoint& from, const uint8_t* data, size_t size) {
  // ngtcp2 asserts on an empty datagram.
  if (size == 0) return;
  ngtcp2_version_cid ids;
  const int decoded = ngtcp2_pkt_decode_version_cid(&ids, data, size, kShortHeaderCidLength);
  if (decoded == NGTCP2_ERR_VERSION_NEGOTIATION) return negotiateVersion(from, data, size);
  if (decoded != 0) return;
  if (auto found = byCid_.find(cidKey(ids.dcid, ids.dcidlen)); found != byCid_.end()) {
    // The connection may go while it reads: held until it is done.
    std::shared_ptr<QuicConnection> connection = found->second;
    return connection->receive(from, data, size);
  }
  acceptNew(from, data, size);
}

void QuicServer::acceptNew(const Endpoint& from, const uint8_t* data, size_t size) {
  ngtcp2_pkt_hd header;
  if (connections_.size() >= kMaxConnections || ngtcp2_accept(&header, data, size) != 0) return;
  auto connection = QuicConnection::accept(executor_, sender_, credentials_, options_, header, local_, from);
  if (!connection) return;
  std::weak_ptr<QuicServer*> server = self_;
  std::weak_ptr<QuicConnection> weakConnection = connection;
  QuicConnection::Events events;
  events.streamOpened = [server](std::shared_ptr<QuicStream> stream) {
    if (auto self = server.lock(); self && (*self)->onStream) (*self)->onStream(std::move(stream));
  };
  events.cidIssued = [server, weakConnection](const std::string& cid) {
    auto self = server.lock();
    auto connection = weakConnection.lock();
    if (self && connection && !connection->closed()) (*self)->byCid_[cid] = connection;
  };
  events.cidRetired = [server](const std::string& cid) {
    if (auto self = server.lock()) (*self)->byCid_.erase(cid);
  };
  events.closed = [server, weakConnection](std::error_code) {
    auto self = server.lock();
    auto connection = weakConnection.lock();
    if (self && connection) (*self)->forget(connection);
  };
  connection->setEvents(std::move(events));
  connections_[connection.get()] = connection;
  for (const std::string& cid : connection->ownCids()) byCid_[cid] = connection;
  connection->receive(from, data, size);
}

// A client that speaks a version we do not: told which we do, as QUIC has it.
void QuicServer::negotiateVersion(const Endpoint& from, const uint8_t* data, size_t size) {
  ngtcp2_version_cid ids;
  if (size < kSmallestInitialDatagram ||
      ngtcp2_pkt_decode_version_cid(&ids, data, size, kShortHeaderCidLength) != NGTCP2_ERR_VERSION_NEGOTIATION) {
    return;
  }
  const uint32_t versions[] = {NGTCP2_PROTO_VER_V1};
  std::array<uint8_t, 256> packet;
  uint8_t unused = 0;
  gnutls_rnd(GNUTLS_RND_NONCE, &unused, 1);
  const ngtcp2_ssize written =
      ngtcp2_pkt_write_version_negotiation(packet.data(), packet.size(), unused, ids.scid, ids.scidlen, ids.dcid,
                                           ids.dcidlen, versions, std::size(versions));
  if (written > 0) sender_.sendDatagram(from, packet.data(), static_cast<size_t>(written));
}

void QuicServer::forget(const std::shared_ptr<QuicConnection>& connection) {
  std::erase_if(byCid_, [&](const auto& entry) { return entry.second == connection; });
  connections_.erase(connection.get());
}

}  // namespace vistaro::quic
