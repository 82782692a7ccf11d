// The TLS-PSK transport against itself and against OpenSSL, on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/tcp.h>

#include <thread>


#include "core/asio_executor.h"
#include "server/framed_connection.h"
#include "server/tcp_options.h"
#include "server/tls_listener.h"
#include "server/tls_stream.h"
#include "support/cross_thread_events.h"
#include "support/piped_process.h"

namespace vistaro {
namespace {

using testing::PipedProcess;
using testing::runOn;
using Events = testing::CrossThreadEvents;

constexpr auto kPatience = Events::kPatience;
constexpr char kPin[] = "123456";

// Heap in use, mapped blocks included (large buffers are mapped).
size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

std::string hex(const PreSharedKey& key) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : key) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::string framed(MessageType type, const std::string& body) {
  const auto length = static_cast<uint32_t>(body.size() + 1);
  std::string bytes{char(length >> 24), char(length >> 16), char(length >> 8), char(length), char(wireCode(type))};
  return bytes + body;
}

// Framed messages over a stream, reported as "<side> ready", "<side> got <type> <size>", "<side> closed[ with error]".
std::shared_ptr<FramedConnection> watch(std::shared_ptr<ByteStream> stream, AsioExecutor& executor, Events& events,
                                        const std::string& side, bool echo) {
  auto connection = FramedConnection::create(std::move(stream), executor);
  connection->onReady = [&events, side] { events.add(side + " ready"); };
  std::weak_ptr<FramedConnection> weak = connection;
  connection->onMessage = [&events, side, echo, weak](MessageType type, Bytes body) {
    events.add(side + " got " + std::to_string(wireCode(type)) + " " + std::to_string(body.size()));
    if (auto self = weak.lock(); self && echo) self->send(MessageType::welcome, body);
  };
  connection->onClose = [&events, side](std::optional<std::error_code> error) {
    if (error == make_error_code(StreamError::keyRejected)) events.add(side + " closed with a rejected key");
    events.add(side + (error ? " closed with error" : " closed"));
  };
  connection->start();
  return connection;
}

class TlsTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runOn(executor, [&] {
      std::error_code error;
      listener = TlsListener::create(executor, 0, makeTransportParameters(kPin), error);
      ASSERT_FALSE(error) << error.message();
      listener->onAccept = [this](std::shared_ptr<ByteStream> stream) {
        events.add("from " + stream->peer().address + " in " + stream->peer().source);
        serverConnections.push_back(watch(std::move(stream), executor, events, "server", true));
      };
      listener->start();
    });
  }
  void TearDown() override {
    // Everything goes on the executor's thread; what it still has queued sees only weak references.
    runOn(executor, [&] {
      listener->cancel();
      for (auto& connection : serverConnections) connection->close();
      if (client) client->close();
      listener.reset();
      serverConnections.clear();
      client.reset();
      clientStream.reset();
    });
  }

  void connectClient(const std::string& pin) {
    runOn(executor, [&] {
      clientStream = TlsStream::connecting(executor, "localhost", listener->port(), makeTransportParameters(pin));
      client = watch(clientStream, executor, events, "client", false);
    });
  }

  std::vector<std::string> opensslClient(const std::string& key, const std::vector<std::string>& options) {
    std::vector<std::string> argv{"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(listener->port()),
                                  "-psk", key, "-psk_identity", "kestrune"};
    argv.insert(argv.end(), options.begin(), options.end());
    return argv;
  }

  Events events;  // outlives the executor's thread
  AsioExecutor executor{"velmora.hub"};
  std::shared_ptr<TlsListener> listener;
  std::vector<std::shared_ptr<FramedConnection>> serverConnections;
  std::shared_ptr<FramedConnection> client;
  std::shared_ptr<TlsStream> clientStream;
};

TEST(PreSharedKeyTest, KnownVectors) {
  EXPECT_EQ(hex(derivePreSharedKey("123456")), "a73c298a8bb771e71131755f37110711eb428445dd6ef0d232c36d79a06d97cb");
  EXPECT_EQ(hex(derivePreSharedKey("000000")), "3226681e006450d4c4ce0c311caabb60c2a501a380b3ae8c33e615cf0119fa13");
  // An empty PIN is not refused: the label under an empty key (Python's hmac agrees).
  EXPECT_EQ(hex(makeTransportParameters("").key), "6fbbda2f46be719557b92f79e2c4d7be4bfa38dbe41a781371e7a4ee052c509a");
  EXPECT_EQ(makeTransportParameters(kPin).identity, "kestrune");
}

TEST_F(TlsTransportTest, OwnClientExchangesLargeMessagesBothWays) {
  connectClient(kPin);
  ASSERT_TRUE(events.waitFor("client ready"));
  ASSERT_TRUE(events.waitFor("server ready"));
  const size_t big = 8 << 20;  // far beyond the socket buffers, so writes wait for the peer
  runOn(executor, [&] {
    client->send(MessageType::hello, Bytes{'{', '}'});
    client->send(MessageType::frame, Bytes(big, 0x5A));
  });
  EXPECT_TRUE(events.waitFor("server got 1 2"));
  EXPECT_TRUE(events.waitFor("server got 11 " + std::to_string(big)));
  EXPECT_TRUE(events.waitFor("client got 10 2"));
  EXPECT_TRUE(events.waitFor("client got 10 " + std::to_string(big)));

  runOn(executor, [&] { client->close(); });
  EXPECT_TRUE(events.waitFor("server closed"));
}

TEST_F(TlsTransportTest, ClientWithAnotherPinFailsTheHandshakeOnBothSides) {
  connectClient("000000");
  EXPECT_TRUE(events.waitFor("client closed with error"));
  EXPECT_TRUE(events.waitFor("server closed with a rejected key"));
  EXPECT_FALSE(events.seen("client closed with a rejected key"));  // only the server judges keys
  EXPECT_FALSE(events.seen("server ready"));
}

TEST_F(TlsTransportTest, AnnouncedLengthReservesNothingUntilTheBytesCome) {
  connectClient(kPin);
  ASSERT_TRUE(events.waitFor("server ready"));
  EXPECT_TRUE(events.seen("from 127.0.0.1 in 127.0.0.1") || events.seen("from ::1 in ::/64"));
  const size_t before = heapInUse();
  runOn(executor, [&] {
    // A prefix that announces 64 MiB, then a few bytes and silence.
    auto announced = std::make_shared<Bytes>(105, ' ');
    (*announced)[0] = 0x04;
    (*announced)[1] = (*announced)[2] = (*announced)[3] = 0;
    (*announced)[4] = wireCode(MessageType::key);
    clientStream->write(std::move(announced), {});
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(heapInUse() - before, size_t{4} << 20);
}

TEST_F(TlsTransportTest, OpenSslClientHandshakesAndExchangesFramedBytes) {
  PipedProcess peer(opensslClient(hex(derivePreSharedKey(kPin)),
                                  {"-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305", "-ign_eof"}));
  ASSERT_TRUE(events.waitFor("server ready")) << peer.output();
  EXPECT_TRUE(peer.waitForOutput("Cipher is ECDHE-PSK-CHACHA20-POLY1305", kPatience)) << peer.output();
  const std::string hello = R"({"pin":"123456","name":"openssl","version":1})";
  peer.write(framed(MessageType::hello, hello));
  EXPECT_TRUE(events.waitFor("server got 1 " + std::to_string(hello.size())));
  EXPECT_TRUE(peer.waitForOutput(framed(MessageType::welcome, hello), kPatience));
}

TEST_F(TlsTransportTest, OpenSslClientWithWrongKeyGetsBadRecordMac) {
  PipedProcess peer(opensslClient(hex(derivePreSharedKey("654321")),
                                  {"-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305"}));
  EXPECT_NE(peer.waitForExit(kPatience), 0);
  EXPECT_THAT(peer.output(), ::testing::HasSubstr("alert bad record mac"));
  EXPECT_TRUE(events.waitFor("server closed with a rejected key"));
}

TEST_F(TlsTransportTest, OpenSslClientWithOtherVersionsOrSuitesIsRefused) {
  const std::string key = hex(derivePreSharedKey(kPin));
  const std::vector<std::vector<std::string>> refused = {
      {"-tls1_3"},
      {"-tls1_1", "-cipher", "ECDHE-PSK-AES128-CBC-SHA:@SECLEVEL=0"},
      {"-tls1_2", "-cipher", "PSK-CHACHA20-POLY1305"},
      {"-tls1_2", "-cipher", "ECDHE-PSK-AES128-CBC-SHA256"},
      {"-tls1_2", "-cipher", "DHE-PSK-CHACHA20-POLY1305"},
  };
  for (const auto& options : refused) {
    PipedProcess peer(opensslClient(key, options));
    EXPECT_NE(peer.waitForExit(kPatience), 0) << options[0];
    EXPECT_THAT(peer.output(), ::testing::Not(::testing::ContainsRegex("Cipher is [A-Z]"))) << peer.output();
  }
  EXPECT_FALSE(events.seen("server ready"));
  // No key was ever tried: nothing here counts as a guessed PIN.
  EXPECT_FALSE(events.seen("server closed with a rejected key"));
}

TEST_F(TlsTransportTest, PeerDyingMidWriteDoesNotEndTheHost) {
  PipedProcess peer(opensslClient(hex(derivePreSharedKey(kPin)),
                                  {"-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305", "-quiet"}));
  ASSERT_TRUE(events.waitFor("server ready"));
  runOn(executor, [&] {
    for (int i = 0; i < 4; ++i) {
      serverConnections.front()->send(MessageType::frame, Bytes(16 << 20, 1), [this, i](std::error_code error) {
        events.add("send " + std::to_string(i) + (error ? " failed" : " done"));
      });
    }
  });
  peer.kill();
  EXPECT_TRUE(events.waitFor("send 3 failed"));
  EXPECT_TRUE(events.waitFor("server closed with error"));
}

TEST_F(TlsTransportTest, OwnClientTalksToOpenSslServer) {
  const std::string key = hex(derivePreSharedKey(kPin));
  PipedProcess server({"openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept", "1", "-nocert", "-psk", key,
                       "-psk_identity", "kestrune", "-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305"});
  ASSERT_TRUE(server.waitForOutput("ACCEPT 127.0.0.1:", kPatience));
  ASSERT_TRUE(server.waitForOutput("\n", kPatience));
  const std::string& text = server.output();
  const size_t at = text.find("ACCEPT 127.0.0.1:") + 17;
  const auto port = static_cast<uint16_t>(std::stoi(text.substr(at)));

  runOn(executor, [&] {
    client = watch(TlsStream::connecting(executor, "127.0.0.1", port, makeTransportParameters(kPin)), executor,
                   events, "client", false);
  });
  ASSERT_TRUE(events.waitFor("client ready")) << server.output();
  EXPECT_TRUE(server.waitForOutput("CIPHER is ECDHE-PSK-CHACHA20-POLY1305", kPatience));
  runOn(executor, [&] { client->send(MessageType::hello, Bytes{'{', '"', 'a', '"', ':', '1', '}'}); });
  EXPECT_TRUE(server.waitForOutput(framed(MessageType::hello, R"({"a":1})"), kPatience));
  server.write(framed(MessageType::focus, R"({"editable":true})"));
  EXPECT_TRUE(events.waitFor("client got 13 17"));
}

TEST(TcpOptionsTest, NoDelayAndTenSecondKeepAlive) {
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
  EXPECT_TRUE(noDelay.value());
  EXPECT_TRUE(keepAlive.value());
  EXPECT_EQ(idle.value(), 10);
}

}  // namespace
}  // namespace vistaro
