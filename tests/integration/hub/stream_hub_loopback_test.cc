// The hub over real TLS on loopback, in a network namespace of its own: 52525 is free there,
// and 127.0.0.2 is a second address that is its own source.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <chrono>
#include <thread>

#include "support/live_hub.h"
#include "support/loopback_client.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

client::ClientOptions phoneAt(const std::string& host, uint16_t port, const std::string& pin, const std::string& name) {
  return {.host = host, .port = port, .pin = pin, .name = name};
}

TEST(HubLoopback, ClientsOnBothFamiliesGetInAndAStaleKeyAfterANewPinDoesNot) {
  LiveHub hub;
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  LoopbackClient phone({phoneAt("127.0.0.1", 52525, "123456", "Phone")});
  EXPECT_EQ(phone.welcomes.take()->hostName, "desk");
  LoopbackClient tablet({phoneAt("::1", 52525, "123456", "Tablet")});
  EXPECT_TRUE(tablet.welcomes.take());
  EXPECT_EQ(hub.names.takeUntil([](const Names& n) { return n.size() == 2; }), (Names{"Phone", "Tablet"}));

  hub->setPin("777777");
  EXPECT_EQ(hub.nextListeningPort(), 52525);
  LoopbackClient stale({phoneAt("127.0.0.2", 52525, "123456", "Stale")});
  EXPECT_TRUE(stale.closed.take());  // the TLS handshake fails
  LoopbackClient fresh({phoneAt("127.0.0.1", 52525, "777777", "Fresh")});
  EXPECT_TRUE(fresh.welcomes.take());
  hub->broadcastError("notice", "still here");
  for (LoopbackClient* client : {&phone, &tablet, &fresh}) EXPECT_EQ(client->errors.take()->message, "still here");
  EXPECT_EQ(phone.closed.size(), 0u);
}

// 127.0.0.1 guesses PINs as fast as it can while the owner's phone comes from 127.0.0.2.
TEST(HubLoopback, GuessingFromOneAddressLeavesTheOthersAlone) {
  LiveHub hub;
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  std::atomic<bool> attacking{true};
  std::atomic<int> guesses{0};
  std::thread attacker([&] {
    while (attacking) {
      LoopbackClient guess({phoneAt("127.0.0.1", 52525, std::to_string(100000 + guesses++), "Thief")});
      guess.closed.take(2s);
    }
  });
  std::this_thread::sleep_for(500ms);
  const auto start = std::chrono::steady_clock::now();
  LoopbackClient phone({phoneAt("127.0.0.2", 52525, "123456", "Phone")});
  EXPECT_TRUE(phone.welcomes.take());
  const auto waited = std::chrono::steady_clock::now() - start;
  attacking = false;
  attacker.join();
  EXPECT_LT(waited, 2s);
  // Five real guesses; the rest were turned away before their handshake.
  EXPECT_GT(guesses.load(), 5);
  EXPECT_EQ(hub.authFailures.take(), (AuthFailures{5, "127.0.0.1", 1}));
}

TEST(HubLoopback, IdleConnectionFloodFromOneAddressDoesNotKeepOthersOut) {
  LiveHub hub;
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  asio::io_context context;
  std::vector<asio::ip::tcp::socket> flood;
  for (int i = 0; i < 2000; ++i) {
    flood.emplace_back(context);
    flood.back().connect({asio::ip::make_address("127.0.0.1"), 52525});
  }
  const auto start = std::chrono::steady_clock::now();
  LoopbackClient phone({phoneAt("127.0.0.2", 52525, "123456", "Phone")});
  EXPECT_TRUE(phone.welcomes.take());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
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
