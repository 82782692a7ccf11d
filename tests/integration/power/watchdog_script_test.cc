#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/linux/shell_watchdog.h"
#include "support/child_process.h"

namespace vistaro {
namespace {

// A host that died and whose number went to another process (here: this test, which started at
// another time) is gone: the watchdog starts the new host at once instead of waiting on a stranger.
TEST(WatchdogScriptTest, ANumberTakenByAnotherProcessDoesNotKeepItWaiting) {
  const unsigned long long started = processStartTicks(getpid());
  ASSERT_NE(started, 0u);
  testing::ChildProcess watchdog({"/bin/sh", "-c", watchdogScript(getpid(), started + 1, {"/bin/echo", "it's"})});
  EXPECT_TRUE(watchdog.waitForOutput("it's --restore-displays\n", std::chrono::milliseconds(1500)));
}

}  // namespace
}  // namespace vistaro
