#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <optional>
#include <thread>

#include "integration/hub/dnssd_daemons.h"
#include "integration/hub/live_hub.h"
#include "integration/hub/test_client.h"
#include "platform/linux/avahi_service_advertiser.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using Services = std::vector<BrowsedService>;

class StreamHubDnssdTest : public ::testing::Test {
 protected:
  // libdbus reads the bus address once per process: set it before any Avahi client exists.
  StreamHubDnssdTest() {
    daemons.exportBusAddress();
    advertiser.emplace([this](const std::string&) { ++outages; }, 200ms);
  }

  DnssdDaemons daemons;
  std::atomic<int> outages{0};
  std::optional<AvahiServiceAdvertiser> advertiser;
};

TEST_F(StreamHubDnssdTest, TheListenersPortIsAdvertisedAndFollowedWhenItMoves) {
  daemons.startBus();
  daemons.startAvahi();
  outages = 0;  // the advertiser came before the daemons
  std::optional<asio::io_context> context(std::in_place);
  std::optional<asio::ip::tcp::acceptor> squatter(std::in_place, *context,
                                                  asio::ip::tcp::endpoint(asio::ip::address_v6::any(), 52525));
  LiveHub hub(*advertiser);
  const uint16_t fallback = hub.nextListeningPort();
  ASSERT_NE(fallback, 52525);
  EXPECT_EQ(browseUntil({{"Desk", fallback}}), (Services{{"Desk", fallback}}));

  squatter.reset();
  hub->setPin("246810");
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  EXPECT_EQ(browseUntil({{"Desk", 52525}}), (Services{{"Desk", 52525}}));
  EXPECT_EQ(outages, 0);
}

TEST_F(StreamHubDnssdTest, WithoutAnyDaemonTheHostKeepsServingAndSaysSoOnce) {
  LiveHub hub(*advertiser);
  ASSERT_EQ(hub.nextListeningPort(), 52525);
  TestClient client("127.0.0.1", 52525, "123456");
  client.hello("123456", "Phone");
  const auto welcome = client.received.take();
  ASSERT_TRUE(welcome.has_value());
  EXPECT_EQ(welcome->type, MessageType::welcome);
  std::this_thread::sleep_for(1s);  // several reconnect attempts
  EXPECT_EQ(outages, 1);
}

}  // namespace
}  // namespace vistaro::testing
