// The direct agent's QUIC listener on loopback, against quic-go as an independent client and a
// stand-in for the local listener (or the real TLS listener, where the client's address counts).
#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "reach/direct_agent.h"
#include "server/tls_listener.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/threads.h"

namespace vistaro {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::runOn;

// The local listener as the pipes meet it: takes `expect` bytes from each connection, then
// answers and closes, or (with no answer) keeps the connection until the other side ends it.
class StandInHub {
 public:
  StandInHub(size_t expect, std::string answer) : expect_(expect), answer_(std::move(answer)) {
    runOn(queue_, [this] {
      const asio::ip::tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
      acceptor_.open(loopback.protocol());
      acceptor_.bind(loopback);
      acceptor_.listen();
      port_ = acceptor_.local_endpoint().port();
      acceptNext();
    });
  }
  ~StandInHub() {
    runOn(queue_, [this] {
      acceptor_.close();
      sockets_.clear();
    });
  }
  uint16_t port() const { return port_; }

  testing::Mailbox<std::string> received;
  testing::Mailbox<bool> ended;

 private:
  using Socket = std::shared_ptr<asio::ip::tcp::socket>;
  void acceptNext() {
    acceptor_.async_accept([this](std::error_code error, asio::ip::tcp::socket accepted) {
      if (error) return;
      auto socket = sockets_.emplace_back(std::make_shared<asio::ip::tcp::socket>(std::move(accepted)));
      auto bytes = std::make_shared<std::string>(expect_, '\0');
      asio::async_read(*socket, asio::buffer(*bytes), [this, socket, bytes](std::error_code error, size_t) {
        if (error) return;
        received.put(*bytes);
        if (answer_.empty()) return waitForEnd(socket);
        asio::write(*socket, asio::buffer(answer_), error);
        socket->close(error);
      });
      acceptNext();
    });
  }
  void waitForEnd(const Socket& socket) {
    auto scratch = std::make_shared<std::array<char, 64>>();
    socket->async_read_some(asio::buffer(*scratch), [this, socket, scratch](std::error_code error, size_t) {
      if (error) return ended.put(true);
      waitForEnd(socket);
    });
  }

  AsioExecutor queue_{"stand-in hub"};
  asio::ip::tcp::acceptor acceptor_{queue_.context()};
  const size_t expect_;
  const std::string answer_;
  uint16_t port_ = 0;
  std::vector<Socket> sockets_;
};

class DirectAgentTest : public ::testing::Test {
 protected:
  ~DirectAgentTest() override {
    runOn(queue, [this] { agent.reset(); });
  }

  void startAgent(uint16_t localPort, std::chrono::milliseconds idleTimeout = DirectAgent::kIdleTimeout,
                  RelayedPeers* relayedPeers = nullptr) {
    agent = DirectAgent::create(std::string(32, 'a'), {.queue = queue,
                                                       .main = main,
                                                       .identityDirectory = settings.path(),
                                                       .relayedPeers = relayedPeers,
                                                       .idleTimeout = idleTimeout});
    agent->setLocalPort(localPort);
    agent->start();
  }
  uint16_t listenerPort() {
    return runOn(queue, [this] { return agent->port(); });
  }
  std::unique_ptr<ChildProcess> peer(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {QUIC_PEER, "-addr", "127.0.0.1:" + std::to_string(listenerPort())});
    return std::make_unique<ChildProcess>(arguments);
  }

  AsioExecutor queue{"velmora.direct"};
  AsioExecutor main{"main"};
  testing::TempDir settings;
  std::shared_ptr<DirectAgent> agent;
};

TEST_F(DirectAgentTest, APeerOfferingOurProtocolReachesTheLocalListenerAndHearsItsLastWords) {
  StandInHub hub(5, "last words before the end");
  startAgent(hub.port());
  auto client = peer({"-send", "hello"});
  ASSERT_EQ(client->waitForExit(), 0) << client->output();
  EXPECT_EQ(hub.received.take(), "hello");
  EXPECT_NE(client->output().find("handshake alpn=\"vistaro/1\""), std::string::npos) << client->output();
  EXPECT_NE(client->output().find("reply \"last words before the end\""), std::string::npos) << client->output();
}

TEST_F(DirectAgentTest, APeerOfferingAnotherProtocolOrNoneIsRefused) {
  StandInHub hub(5, "unheard");
  startAgent(hub.port());
  for (const char* alpn : {"h3", ""}) {
    auto client = peer({"-alpn", alpn, "-send", "hello"});
    EXPECT_EQ(client->waitForExit(), 3) << alpn;
    EXPECT_NE(client->output().find("no application protocol"), std::string::npos) << client->output();
  }
  EXPECT_FALSE(hub.received.take(200ms));
}

TEST_F(DirectAgentTest, WhenThePreferredPortIsTakenAnotherIsUsedAndReported) {
  asio::io_context context;
  asio::ip::udp::socket squatter(context, {asio::ip::address_v4::any(), DirectAgent::kPreferredPort});
  StandInHub hub(5, "ok");
  startAgent(hub.port());
  ASSERT_TRUE(testing::eventually([&] { return listenerPort() != DirectAgent::kPreferredPort; }));
  EXPECT_NE(listenerPort(), 0);
  auto client = peer({"-send", "hello"});
  EXPECT_EQ(client->waitForExit(), 0) << client->output();
  EXPECT_EQ(hub.received.take(), "hello");
}

TEST_F(DirectAgentTest, APeerThatVanishesIsDroppedAfterTheIdleTimeout) {
  StandInHub hub(5, "");
  startAgent(hub.port(), 1000ms);
  auto client = peer({"-hold", "-send", "hello"});
  ASSERT_TRUE(client->waitForOutput("sent")) << client->output();
  ASSERT_EQ(hub.received.take(), "hello");
  client->kill();
  const auto killed = std::chrono::steady_clock::now();
  EXPECT_TRUE(hub.ended.take(5s));
  EXPECT_GE(std::chrono::steady_clock::now() - killed, 900ms);
  EXPECT_TRUE(testing::eventually([&] { return runOn(queue, [this] { return agent->pipeCount(); }) == 0; }));
}

// Every direct client would otherwise share the loopback address before the PIN throttle.
TEST_F(DirectAgentTest, TheLocalListenerCreditsAPipedConnectionToTheQuicPeer) {
  AsioExecutor hubQueue{"velmora.hub"};
  RelayedPeers relayedPeers;
  testing::Mailbox<PeerAddress> accepted;
  auto listener = runOn(hubQueue, [&] {
    std::error_code error;
    auto tls = TlsListener::create(hubQueue, 0, makeTransportParameters("123456"), error);
    tls->relayedPeers = &relayedPeers;
    tls->onAccept = [&](std::shared_ptr<ByteStream> stream) { accepted.put(stream->peer()); };
    tls->start();
    return tls;
  });
  startAgent(listener->port(), DirectAgent::kIdleTimeout, &relayedPeers);
  auto client = peer({"-local", "127.0.0.2:0", "-hold", "-send", "hello"});
  const auto peerAddress = accepted.take();
  ASSERT_TRUE(peerAddress);
  EXPECT_EQ(peerAddress->address, "127.0.0.2");
  runOn(hubQueue, [&] { listener->cancel(); });
}

}  // namespace
}  // namespace vistaro
