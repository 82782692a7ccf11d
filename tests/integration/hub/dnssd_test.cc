// The real Avahi daemon on a private bus, seen with avahi-browse.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <optional>
#include <thread>

#include "integration/hub/dnssd_daemons.h"
#include "platform/linux/avahi_service_advertiser.h"
#include "support/live_hub.h"
#include "support/loopback_client.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;

class Dnssd : public ::testing::Test {
 protected:
  // libdbus reads the bus address once per process (ctest runs each test in one of its own):
  // set it before any Avahi client exists.
  Dnssd() { daemons.exportBusAddress(); }
  std::unique_ptr<AvahiServiceAdvertiser> advertiser() {
    return std::make_unique<AvahiServiceAdvertiser>([this](const std::string&) { ++outages; }, 200ms);
  }

  DnssdDaemons daemons;
  std::atomic<int> outages{0};
};

TEST_F(Dnssd, TheHubsPortIsAdvertisedAndFollowedWhenItMoves) {
  daemons.startBus();
  daemons.startAvahi();
  auto avahi = advertiser();
  std::optional<asio::io_context> context(std::in_place);
  std::optional<asio::ip::tcp::acceptor> squatter(std::in_place, *context,
                                                  asio::ip::tcp::endpoint(asio::ip::address_v6::any(), 52525));
  LiveHub hub({.advertiser = avahi.get()});
  const uint16_t fallback = hub.nextListeningPort();
  ASSERT_NE(fallback, 52525);
  EXPECT_EQ(browseUntil({{"Desk", fallback}}), (Services{{"Desk", fallback}}));

  squatter.reset();
  hub->setPin("246810");
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  EXPECT_EQ(browseUntil({{"Desk", 52525}}), (Services{{"Desk", 52525}}));
  EXPECT_EQ(outages, 0);
}

TEST_F(Dnssd, TakenNameIsRenamedTheAvahiWayKeptWhenThePortMovesAndWithdrawn) {
  daemons.startBus();
  daemons.startAvahi();
  auto first = advertiser();
  first->advertise("Desk", 40001);
  ASSERT_EQ(browseUntil({{"Desk", 40001}}), (Services{{"Desk", 40001}}));
  auto second = advertiser();
  second->advertise("Desk", 40002);
  EXPECT_EQ(browseUntil({{"Desk", 40001}, {"Desk #2", 40002}}), (Services{{"Desk", 40001}, {"Desk #2", 40002}}));
  second->advertise("Desk", 40003);
  EXPECT_EQ(browseUntil({{"Desk", 40001}, {"Desk #2", 40003}}), (Services{{"Desk", 40001}, {"Desk #2", 40003}}));
  first->withdraw();
  EXPECT_EQ(browseUntil({{"Desk #2", 40003}}), (Services{{"Desk #2", 40003}}));
}

// Discovery is a convenience: without it the host serves, says so once per outage, and comes
// back on the network with the daemon.
TEST_F(Dnssd, WithoutTheDaemonTheHostServesAndReappearsWhenItComesBack) {
  auto avahi = advertiser();
  LiveHub hub({.advertiser = avahi.get()});
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  LoopbackClient phone(52525, "123456");
  EXPECT_TRUE(phone.welcomes.take());
  std::this_thread::sleep_for(1s);  // several reconnect attempts
  EXPECT_EQ(outages, 1);

  daemons.startBus();
  daemons.startAvahi();
  EXPECT_EQ(browseUntil({{"Desk", 52525}}), (Services{{"Desk", 52525}}));
  daemons.stopAvahi();
  EXPECT_TRUE(eventually([&] { return outages >= 2; }));
  daemons.startAvahi();
  EXPECT_EQ(browseUntil({{"Desk", 52525}}), (Services{{"Desk", 52525}}));
  EXPECT_EQ(outages, 2);
}

}  // namespace
}  // namespace vistaro::testing
