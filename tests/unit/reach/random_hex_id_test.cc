#include <gtest/gtest.h>

#include <set>

#include "core/manual_executor.h"
#include "reach/random_hex_id.h"
#include "reach/relay_agent.h"

namespace vistaro {
namespace {

TEST(RelayAgent, StaysInertAndKeepsTheLatestLocalPort) {
  ManualExecutor queue;
  RelayAgent agent(queue, randomHexID());
  EXPECT_EQ(agent.localPort(), 52525);
  EXPECT_EQ(agent.retryDelay().count(), 2.0);
  agent.setLocalPort(40001);
  agent.setLocalPort(40002);
  queue.runUntilIdle();
  EXPECT_EQ(agent.localPort(), 40002);
  EXPECT_FALSE(agent.running());
  EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST(RandomHexID, IsThirtyTwoLowercaseHexDigitsAndNewEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) {
    const std::string id = randomHexID();
    EXPECT_TRUE(isHexID(id)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 8u);
  for (const char* stored : {"0123456789ABCDEF0123456789abcdef", "0123456789abcdef0123456789abcde", ""}) {
    EXPECT_FALSE(isHexID(stored)) << stored;
  }
}

}  // namespace
}  // namespace vistaro
