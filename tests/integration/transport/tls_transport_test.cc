// The TLS-PSK transport against itself and against OpenSSL, on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/tcp.h>

#include <fmt/format.h>

#include <thread>

#include "core/asio_executor.h"
#include "server/peer_address.h"
#include "server/tcp_options.h"
#include "server/tls_listener.h"
#include "server/tls_stream.h"
#include "support/child_process.h"
#include "support/threads.h"
#include "wire/framed_connection.h"

namespace vistaro::testing {
namespace {

using ::testing::HasSubstr;
constexpr char kPin[] = "123456";

std::string hex(const PreSharedKey& key) {
  std::string text;
  for (uint8_t byte : key) text += fmt::format("{:02x}", byte);
  return text;
}
std::string framed(MessageType type, const std::string& body) {
  const auto length = static_cast<uint32_t>(body.size() + 1);
  return std::string{char(length >> 24), char(length >> 16), char(length >> 8), char(length), char(wireCode(type))} +
         body;
}
// Heap in use, mapped blocks included (large buffers are mapped).
int64_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<int64_t>(info.uordblks + info.hblkhd);
}

class TlsTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    runOn(executor, [&] {
      std::error_code error;
      listener = TlsListener::create(executor, 0, makeTransportParameters(kPin), error);
      ASSERT_FALSE(error) << error.message();
      listener->onAccept = [this](std::shared_ptr<ByteStream> stream) {
        events.put("from " + stream->peer().address);
        servers.push_back(watch(std::move(stream), "server", true));
      };
      listener->start();
    });
  }
  void TearDown() override {
    runOn(executor, [&] {
      listener->cancel();
      for (auto& connection : servers) connection->close();
      if (client) client->close();
      servers.clear();
      client.reset();
      clientStream.reset();
    });
  }
  // Framed messages over a stream, reported as "<side> ready", "<side> got <type> <size>", "<side> closed...".
  std::shared_ptr<FramedConnection> watch(std::shared_ptr<ByteStream> stream, const std::string& side, bool echo) {
    auto connection = FramedConnection::create(std::move(stream), executor);
    connection->onReady = [this, side] { events.put(side + " ready"); };
    std::weak_ptr<FramedConnection> weak = connection;
    connection->onMessage = [this, side, echo, weak](MessageType type, Bytes body) {
      events.put(side + " got " + std::to_string(wireCode(type)) + " " + std::to_string(body.size()));
      if (auto self = weak.lock(); self && echo) self->send(MessageType::welcome, body);
    };
    connection->onClose = [this, side](std::optional<std::error_code> error) {
      events.put(side + (error == make_error_code(StreamError::keyRejected) ? " closed: key rejected"
                         : error                                          ? " closed: error"
                                                                          : " closed"));
    };
    connection->start();
    return connection;
  }
  void connectClient(const std::string& pin, const std::string& host = "localhost", uint16_t port = 0) {
    runOn(executor, [&] {
      clientStream = TlsStream::connecting(executor, host, port ? port : listener->port(), makeTransportParameters(pin));
      client = watch(clientStream, "client", false);
    });
  }
  // Whether the event came, now or before, in whatever order with the others.
  bool saw(const std::string& event) {
    if (std::find(seen.begin(), seen.end(), event) != seen.end()) return true;
    return events.takeUntil([&](const std::string& e) { return seen.push_back(e), e == event; }).has_value();
  }
  std::vector<std::string> openssl(const std::string& pin, const std::vector<std::string>& options) {
    std::vector<std::string> argv{"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(listener->port()),
                                  "-psk", hex(derivePreSharedKey(pin)), "-psk_identity", "kestrune"};
    argv.insert(argv.end(), options.begin(), options.end());
    return argv;
  }

  Mailbox<std::string> events;  // outlives the executor's thread
  std::vector<std::string> seen;
  AsioExecutor executor{"velmora.hub"};
  std::shared_ptr<TlsListener> listener;
  std::vector<std::shared_ptr<FramedConnection>> servers;
  std::shared_ptr<TlsStream> clientStream;
  std::shared_ptr<FramedConnection> client;
};

TEST(PreSharedKey, KnownVectorsTheIdentityAndPeerSources) {
  EXPECT_EQ(hex(derivePreSharedKey("123456")), "a73c298a8bb771e71131755f37110711eb428445dd6ef0d232c36d79a06d97cb");
  EXPECT_EQ(hex(derivePreSharedKey("000000")), "3226681e006450d4c4ce0c311caabb60c2a501a380b3ae8c33e615cf0119fa13");
  // An empty PIN is not refused: the label under an empty key (Python's hmac agrees).
  EXPECT_EQ(hex(makeTransportParameters("").key), "6fbbda2f46be719557b92f79e2c4d7be4bfa38dbe41a781371e7a4ee052c509a");
  EXPECT_EQ(makeTransportParameters(kPin).identity, "kestrune");
  EXPECT_EQ(peerAddressOf(asio::ip::make_address("::ffff:192.0.2.7")), (PeerAddress{"192.0.2.7", "192.0.2.7"}));
  EXPECT_EQ(peerAddressOf(asio::ip::make_address("2001:db8:1:2:3:4:5:6")).source, "2001:db8:1:2::/64");
}

// Large messages both ways are the fan-out's tests' daily bread; what a peer merely announces is not.
TEST_F(TlsTransport, AnnouncedLengthsReserveNothing) {
  connectClient(kPin);
  ASSERT_TRUE(saw("client ready"));
  // A prefix that announces 64 MiB, then a few bytes and silence.
  const int64_t before = heapInUse();
  runOn(executor, [&] {
    auto announced = std::make_shared<Bytes>(105, ' ');
    (*announced)[0] = 0x04, (*announced)[1] = (*announced)[2] = (*announced)[3] = 0;
    (*announced)[4] = wireCode(MessageType::key);
    clientStream->write(std::move(announced), {});
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(heapInUse() - before, int64_t{4} << 20);
}

TEST_F(TlsTransport, OpenSslAsClientHandshakesOrIsRefusedWithoutAKeyEverTried) {
  ChildProcess peer(openssl(kPin, {"-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305", "-ign_eof"}));
  ASSERT_TRUE(saw("server ready")) << peer.output();
  EXPECT_TRUE(peer.waitForOutput("Cipher is ECDHE-PSK-CHACHA20-POLY1305")) << peer.output();
  peer.write(framed(MessageType::hello, R"({"a":1})"));
  EXPECT_TRUE(peer.waitForOutput(framed(MessageType::welcome, R"({"a":1})")));

  ChildProcess wrongKey(openssl("654321", {"-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305"}));
  EXPECT_NE(wrongKey.waitForExit(), 0);
  EXPECT_THAT(wrongKey.output(), HasSubstr("alert bad record mac"));
  EXPECT_TRUE(saw("server closed: key rejected"));
  connectClient("000000");  // our own client with another PIN: the same, and only the server judges keys
  EXPECT_TRUE(saw("client closed: error"));

  for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
           {"-tls1_3"},
           {"-tls1_1", "-cipher", "ECDHE-PSK-AES128-CBC-SHA:@SECLEVEL=0"},
           {"-tls1_2", "-cipher", "PSK-CHACHA20-POLY1305"},
           {"-tls1_2", "-cipher", "ECDHE-PSK-AES128-CBC-SHA256"},
           {"-tls1_2", "-cipher", "DHE-PSK-CHACHA20-POLY1305"}}) {
    ChildProcess refused(openssl(kPin, options));
    EXPECT_NE(refused.waitForExit(), 0) << options[0];
    EXPECT_THAT(refused.output(), ::testing::Not(::testing::ContainsRegex("Cipher is [A-Z]")));
  }
  // Not one of them counted as a guessed PIN.
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "server closed: key rejected"), 2);
}

TEST_F(TlsTransport, PeerDyingMidWriteDoesNotEndTheHost) {
  ChildProcess peer(openssl(kPin, {"-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305", "-quiet"}));
  ASSERT_TRUE(saw("server ready"));
  runOn(executor, [&] {
    for (int i = 0; i < 4; ++i) {
      servers.front()->send(MessageType::frame, Bytes(16 << 20, 1), [this, i](std::error_code error) {
        events.put("send " + std::to_string(i) + (error ? " failed" : " done"));
      });
    }
  });
  peer.kill();
  EXPECT_TRUE(saw("send 3 failed"));
}

TEST_F(TlsTransport, OwnClientTalksToAnOpenSslServer) {
  ChildProcess server({"openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept", "1", "-nocert", "-psk",
                       hex(derivePreSharedKey(kPin)), "-psk_identity", "kestrune", "-tls1_2", "-cipher",
                       "ECDHE-PSK-CHACHA20-POLY1305"});
  ASSERT_TRUE(server.waitForOutput("ACCEPT 127.0.0.1:"));
  ASSERT_TRUE(server.waitForOutput("\n", kPatience, server.output().find("ACCEPT")));
  const size_t at = server.output().find("ACCEPT 127.0.0.1:") + 17;
  connectClient(kPin, "127.0.0.1", static_cast<uint16_t>(std::stoi(server.output().substr(at))));
  ASSERT_TRUE(saw("client ready")) << server.output();
  runOn(executor, [&] { client->send(MessageType::hello, Bytes{'{', '}'}); });
  EXPECT_TRUE(server.waitForOutput(framed(MessageType::hello, "{}")));
  server.write(framed(MessageType::focus, R"({"editable":true})"));
  EXPECT_TRUE(saw("client got 13 17"));
}

TEST(TcpOptions, NoDelayAndTenSecondKeepAlive) {
  asio::io_context context;
  asio::ip::tcp::acceptor acceptor(context, {asio::ip::address_v4::loopback(), 0});
  asio::ip::tcp::socket socket(context);
  socket.connect(acceptor.local_endpoint());
  ASSERT_FALSE(applyTcpOptions(socket));
  asio::ip::tcp::no_delay noDelay;
  asio::socket_base::keep_alive keepAlive;
  asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE> idle;
  socket.get_option(noDelay);
  socket.get_option(keepAlive);
  socket.get_option(idle);
  EXPECT_TRUE(noDelay.value() && keepAlive.value());
  EXPECT_EQ(idle.value(), 10);
}

}  // namespace
}  // namespace vistaro::testing
