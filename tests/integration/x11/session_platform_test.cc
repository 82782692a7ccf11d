// The controller's questions to a real X server, answered without ever holding up the caller.
#include <gtest/gtest.h>
#include <signal.h>

#include "core/manual_executor.h"
#include "platform/x11/x11_controller_platform.h"
#include "support/xvfb_server.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;

TEST(X11SessionPlatform, AHungServerNeverHoldsTheMainExecutorUp) {
  XvfbServer server;
  ManualExecutor main;
  x11::X11ControllerPlatform answering(main, server.name());
  EXPECT_TRUE(answering.hasScreenCapturePermission());
  EXPECT_TRUE(answering.isInputTrusted());
  EXPECT_TRUE(answering.mainDisplayID());

  ::kill(server.pid(), SIGSTOP);
  const auto asked = std::chrono::steady_clock::now();
  x11::X11ControllerPlatform hung(main, server.name());  // waits for its first answers, no longer
  EXPECT_FALSE(hung.hasScreenCapturePermission());
  EXPECT_TRUE(answering.hasScreenCapturePermission());  // what was known stays known
  EXPECT_LT(std::chrono::steady_clock::now() - asked, x11::X11ControllerPlatform::kFirstProbePatience + 1s);
  ::kill(server.pid(), SIGCONT);
}

}  // namespace
}  // namespace vistaro::testing
