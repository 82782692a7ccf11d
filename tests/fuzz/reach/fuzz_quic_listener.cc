// Datagrams into the QUIC listener on virtual time: a real client's, passed on, corrupted or
// dropped as the input says, and datagrams made of the input itself from other sources. Each
// step of the input is an operation byte and its operands.
#include <deque>
#include <optional>

#include "core/manual_executor.h"
#include "reach/direct_identity.h"
#include "reach/quic/quic_server.h"
#include "support/temp_dir.h"

using namespace vistaro;
using namespace vistaro::quic;

namespace {

struct Outbox final : DatagramSender {
  void sendDatagram(const Endpoint&, const uint8_t* data, size_t size) override { datagrams.emplace_back(data, data + size); }
  std::deque<Bytes> datagrams;
};

const DirectIdentity& identity() {
  static testing::TempDir directory;
  static std::string problem;
  static const auto loaded = DirectIdentity::load(directory.path(), std::nullopt, problem);
  return *loaded;
}

gnutls_certificate_credentials_t clientCredentials() {
  static gnutls_certificate_credentials_t credentials = [] {
    gnutls_certificate_credentials_t made = nullptr;
    gnutls_certificate_allocate_credentials(&made);
    return made;
  }();
  return credentials;
}

std::optional<Bytes> next(std::deque<Bytes>& datagrams) {
  if (datagrams.empty()) return std::nullopt;
  Bytes datagram = std::move(datagrams.front());
  datagrams.pop_front();
  return datagram;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualExecutor queue;
  Outbox toClient;
  Outbox toServer;
  const Endpoint serverAddress(asio::ip::make_address("127.0.0.1"), 52526);
  const Endpoint clientAddress(asio::ip::make_address("127.0.0.2"), 40000);
  {
    QuicServer server(queue, toClient, identity().credentials(), ConnectionOptions{}, serverAddress);
    server.onStream = [](std::shared_ptr<QuicStream> stream) {
      stream->start({});
      stream->readSome(1024, [stream](std::error_code, Bytes bytes, bool) {
        stream->write(std::make_shared<const Bytes>(std::move(bytes)), {});
      });
    };
    auto client = QuicConnection::connect(queue, toServer, clientCredentials(), ConnectionOptions{}, kAlpn,
                                          clientAddress, serverAddress);
    std::shared_ptr<QuicStream> stream;
    client->setEvents({.ready = [&] { stream = client->openStream(); }});
    client->start();

    for (size_t at = 0; at + 2 <= size;) {
      const uint8_t operation = data[at] % 6;
      const uint8_t operand = data[at + 1];
      at += 2;
      if (operation == 0 || operation == 1) {
        if (auto datagram = next(toServer.datagrams)) {
          if (operation == 1 && !datagram->empty()) (*datagram)[operand % datagram->size()] ^= data[at - 2] | 1;
          server.receive(clientAddress, datagram->data(), datagram->size());
        }
      } else if (operation == 2) {
        next(toServer.datagrams);
      } else if (operation == 3) {
        if (auto datagram = next(toClient.datagrams)) client->receive(serverAddress, datagram->data(), datagram->size());
      } else if (operation == 4) {
        const size_t length = std::min<size_t>(operand * 8, size - at);
        const Endpoint stranger(asio::ip::make_address("192.0.2.1"), static_cast<uint16_t>(1000 + operand));
        server.receive(stranger, data + at, length);
        at += length;
      } else {
        if (stream) stream->write(std::make_shared<const Bytes>(operand, operand), {});
        queue.advance(std::chrono::milliseconds(operand * 4));
      }
      queue.runUntilIdle();
    }
  }
  queue.runUntilIdle();
  return 0;
}
