#include "platform/linux/avahi_service_advertiser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "integration/hub/dnssd_daemons.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using Services = std::vector<BrowsedService>;

class AvahiServiceAdvertiserTest : public ::testing::Test {
 protected:
  AvahiServiceAdvertiserTest() { daemons.exportBusAddress(); }

  std::unique_ptr<AvahiServiceAdvertiser> makeAdvertiser() {
    return std::make_unique<AvahiServiceAdvertiser>([this](const std::string&) { ++outages; }, 200ms);
  }

  DnssdDaemons daemons;
  std::atomic<int> outages{0};
};

TEST_F(AvahiServiceAdvertiserTest, PublishesMovesAndWithdrawsTheService) {
  daemons.startBus();
  daemons.startAvahi();
  auto advertiser = makeAdvertiser();
  advertiser->advertise("Desk Host", 40001);
  EXPECT_EQ(browseUntil({{"Desk Host", 40001}}), (Services{{"Desk Host", 40001}}));

  advertiser->advertise("Desk Host", 40002);
  EXPECT_EQ(browseUntil({{"Desk Host", 40002}}), (Services{{"Desk Host", 40002}}));

  advertiser->withdraw();
  EXPECT_EQ(browseUntil({}), Services{});
  EXPECT_EQ(outages, 0);
}

TEST_F(AvahiServiceAdvertiserTest, TakenNameIsRenamedTheAvahiWayAndKeptWhenThePortMoves) {
  daemons.startBus();
  daemons.startAvahi();
  auto first = makeAdvertiser();
  first->advertise("Desk", 40001);
  ASSERT_EQ(browseUntil({{"Desk", 40001}}), (Services{{"Desk", 40001}}));

  auto second = makeAdvertiser();
  second->advertise("Desk", 40002);
  EXPECT_EQ(browseUntil({{"Desk", 40001}, {"Desk #2", 40002}}), (Services{{"Desk", 40001}, {"Desk #2", 40002}}));

  second->advertise("Desk", 40003);
  EXPECT_EQ(browseUntil({{"Desk", 40001}, {"Desk #2", 40003}}), (Services{{"Desk", 40001}, {"Desk #2", 40003}}));
}

TEST_F(AvahiServiceAdvertiserTest, MissingBusIsReportedOnceAndTheServiceAppearsWithTheDaemons) {
  auto advertiser = makeAdvertiser();
  advertiser->advertise("Desk", 40001);
  std::this_thread::sleep_for(1s);  // several reconnect attempts
  EXPECT_EQ(outages, 1);

  daemons.startBus();
  daemons.startAvahi();
  EXPECT_EQ(browseUntil({{"Desk", 40001}}), (Services{{"Desk", 40001}}));
  EXPECT_EQ(outages, 1);
}

TEST_F(AvahiServiceAdvertiserTest, DaemonRestartIsReportedOnceAndTheServiceReturns) {
  daemons.startBus();
  auto advertiser = makeAdvertiser();
  advertiser->advertise("Desk", 40001);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(outages, 1);  // a bus without the daemon

  daemons.startAvahi();
  ASSERT_EQ(browseUntil({{"Desk", 40001}}), (Services{{"Desk", 40001}}));

  daemons.stopAvahi();
  EXPECT_TRUE(eventually([&] { return outages >= 2; }, 10s));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(outages, 2);
  daemons.startAvahi();
  EXPECT_EQ(browseUntil({{"Desk", 40001}}), (Services{{"Desk", 40001}}));
  EXPECT_EQ(outages, 2);
}

}  // namespace
}  // namespace vistaro::testing
