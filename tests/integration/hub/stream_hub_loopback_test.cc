#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <atomic>
#include <chrono>
#include <thread>

#include "fakes/fake_service_advertiser.h"
#include "integration/hub/live_hub.h"
#include "integration/hub/test_client.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

// Runs in a private network namespace: the preferred port is really free.
class StreamHubLoopbackTest : public ::testing::Test {
 protected:
  FakeServiceAdvertiser advertiser;
};

// The reference client's program as a user runs it, ended after a few seconds
// if it is still connected then. Returns what it printed.
std::string runClientProgram(const std::string& arguments, int& exitStatus) {
  const std::string command =
      "timeout 3 " VISTARO_BINARY_DIR "/client/vistaro-client " + arguments + " 2>/dev/null";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t count; pipe && (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, count);
  exitStatus = pipe ? WEXITSTATUS(pclose(pipe)) : -1;
  return output;
}

void expectWelcome(TestClient& client) {
  const auto message = client.received.take();
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(message->type, MessageType::welcome);
  auto welcome = decodeMessage<WelcomeMessage>(Bytes(message->body.begin(), message->body.end()));
  ASSERT_TRUE(welcome.has_value());
  EXPECT_EQ(welcome->hostName, "desk");
}

TEST_F(StreamHubLoopbackTest, ClientsOnBothFamiliesAuthenticateAndAreWelcomed) {
  LiveHub hub(advertiser);
  ASSERT_EQ(hub.nextListeningPort(), 52525);

  TestClient phone("127.0.0.1", 52525, "123456");
  phone.hello("123456", "Phone");
  expectWelcome(phone);
  EXPECT_EQ(hub.names.take(), (Names{"Phone"}));

  TestClient tablet("::1", 52525, "123456");
  tablet.hello("123456", "Tablet");
  expectWelcome(tablet);
  EXPECT_EQ(hub.names.take(), (Names{"Phone", "Tablet"}));
}

TEST_F(StreamHubLoopbackTest, ReferenceClientProgramIsWelcomedOrTurnedAway) {
  LiveHub hub(advertiser);
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  int status = 0;
  const std::string welcomed = runClientProgram("--host ::1 --pin 123456 --name Phone --features patch", status);
  EXPECT_EQ(status, 124);  // still connected when the time was up
  EXPECT_THAT(welcomed, ::testing::StartsWith("welcome {"));
  EXPECT_THAT(welcomed, ::testing::HasSubstr(R"("hostName":"desk")"));
  EXPECT_EQ(hub.names.take(), (Names{"Phone"}));
  EXPECT_EQ(hub.names.take(), (Names{}));

  const std::string refused = runClientProgram("--pin 999999 --name Thief", status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(refused, "");
  EXPECT_EQ(hub.names.size(), 0u);
}

TEST_F(StreamHubLoopbackTest, TakenPreferredPortGivesAnotherReportedPort) {
  asio::io_context context;
  asio::ip::tcp::acceptor squatter(context, asio::ip::tcp::endpoint(asio::ip::address_v6::any(), 52525));
  LiveHub hub(advertiser);
  const uint16_t port = hub.nextListeningPort();
  EXPECT_NE(port, 52525);
  EXPECT_NE(port, 0);

  TestClient client("127.0.0.1", port, "123456");
  client.hello("123456", "Phone");
  expectWelcome(client);
}

TEST_F(StreamHubLoopbackTest, NewPinRestartsTheListenerAndConnectedClientsKeepGoing) {
  LiveHub hub(advertiser);
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  TestClient early("127.0.0.1", 52525, "123456");
  early.hello("123456", "Early");
  expectWelcome(early);

  hub->setPin("777777");
  EXPECT_EQ(hub.nextListeningPort(), 52525);

  TestClient stale("127.0.0.1", 52525, "123456");
  EXPECT_TRUE(stale.closed.take().has_value());
  TestClient fresh("127.0.0.1", 52525, "777777");
  fresh.hello("777777", "Fresh");
  expectWelcome(fresh);

  hub->broadcastError("notice", "still here");
  for (TestClient* client : {&early, &fresh}) {
    const auto message = client->received.take();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->body, R"({"code":"notice","message":"still here"})");
  }
  EXPECT_EQ(early.closed.size(), 0u);
}

TEST_F(StreamHubLoopbackTest, ConnectionThatNeverStartsTlsIsDroppedAfterTenSeconds) {
  LiveHub hub(advertiser);
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  asio::io_context context;
  asio::ip::tcp::socket silent(context);
  silent.connect({asio::ip::make_address("127.0.0.1"), 52525});
  const auto connected = std::chrono::steady_clock::now();
  uint8_t byte;
  std::error_code error;
  asio::read(silent, asio::buffer(&byte, 1), error);
  const auto lasted = std::chrono::steady_clock::now() - connected;
  EXPECT_TRUE(error);  // ended by the host, nothing sent
  EXPECT_GE(lasted, 9500ms);
  EXPECT_LT(lasted, 15s);
}

// 127.0.0.1 guesses PINs as fast as it can; the owner's phone comes from 127.0.0.2.
TEST_F(StreamHubLoopbackTest, GuessingFromOneAddressLeavesTheOthersAlone) {
  LiveHub hub(advertiser);
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  std::atomic<bool> attacking{true};
  std::atomic<int> guesses{0};
  std::thread attacker([&] {
    while (attacking) {
      TestClient guess("127.0.0.1", 52525, std::to_string(100000 + guesses++));
      guess.closed.take(2s);
    }
  });
  std::this_thread::sleep_for(500ms);
  const auto start = std::chrono::steady_clock::now();
  TestClient phone("127.0.0.2", 52525, "123456");
  phone.hello("123456", "Phone");
  expectWelcome(phone);
  const auto waited = std::chrono::steady_clock::now() - start;
  attacking = false;
  attacker.join();
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(hub.names.take(), (Names{"Phone"}));
  // Five real guesses at most; the rest were turned away before their handshake.
  EXPECT_GT(guesses.load(), 5);
  const auto failures = hub.authFailures.take();
  ASSERT_TRUE(failures.has_value());
  EXPECT_EQ(failures->count, 5u);
  EXPECT_EQ(failures->lastAddress, "127.0.0.1");
}

TEST_F(StreamHubLoopbackTest, IdleConnectionFloodFromOneAddressDoesNotKeepOthersOut) {
  LiveHub hub(advertiser);
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  asio::io_context context;
  std::vector<asio::ip::tcp::socket> flood;
  for (int i = 0; i < 2000; ++i) {
    flood.emplace_back(context);
    flood.back().connect({asio::ip::make_address("127.0.0.1"), 52525});
  }
  const auto start = std::chrono::steady_clock::now();
  TestClient phone("127.0.0.2", 52525, "123456");
  phone.hello("123456", "Phone");
  expectWelcome(phone);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  // The host keeps a handful of the flood's connections and has closed the rest.
  std::this_thread::sleep_for(500ms);
  size_t open = 0;
  for (auto& socket : flood) {
    socket.non_blocking(true);
    uint8_t byte;
    std::error_code error;
    socket.read_some(asio::buffer(&byte, 1), error);
    if (error == asio::error::would_block) ++open;
  }
  EXPECT_LE(open, StreamHub::kMaxPendingPerSource);
}

}  // namespace
}  // namespace vistaro::testing
