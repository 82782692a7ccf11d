// A person at vistaro-client clicks, scrolls and types into the X display of a live hub.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/asio_executor.h"
#include "fakes/fake_layer_encoder.h"
#include "fakes/fake_service_advertiser.h"
#include "integration/hub/mailbox.h"
#include "integration/input/recorder_process.h"
#include "platform/x11/x11_desktop_input.h"
#include "platform/x11/x11_monitors.h"
#include "server/stream_hub.h"
#include "server/tls_listener_factory.h"
#include "support/cross_thread_events.h"
#include "support/xvfb_server.h"

namespace vistaro::testing {
namespace {

class ClientInputTest : public ::testing::Test {
 protected:
  ClientInputTest() {
    desktop = std::make_unique<x11::X11DesktopInput>(mainQueue, CmdModifier::ctrl, server.name());
    hub = StreamHub::create({queue, encodeQueue, encoder, mainQueue, listeners, advertiser, desktop->hubInput()});
    hub->onListenerState = [this](std::string, std::optional<uint16_t> port) {
      if (port) ports.put(*port);
    };
    hub->setPin("123456");
    hub->setWelcome({.hostName = "desk", .displays = {{screen, "screen", 800, 600}}, .current = screen});
    hub->start("Desk");
    port = ports.take().value_or(0);
  }
  ~ClientInputTest() override {
    // Each part ends on the queue it lives on.
    runOn(queue, [this] { hub.reset(); });
    runOn(mainQueue, [this] { desktop.reset(); });
  }
  int client(const std::string& command) {
    std::string line = "timeout 5 " VISTARO_BINARY_DIR "/client/vistaro-client --host 127.0.0.1 --port " +
                       std::to_string(port) + " --pin 123456 " + command + " >/dev/null 2>&1";
    return std::system(line.c_str());
  }

  DisplayID screen = x11::monitorID("screen");
  XvfbServer server{800, 600};
  RecorderProcess recorder{server.name()};
  AsioExecutor queue{"velmora.hub"};
  AsioExecutor encodeQueue{"velmora.encode"};
  AsioExecutor mainQueue{"main"};
  FakeLayerEncoder encoder;
  TlsListenerFactory listeners{queue};
  FakeServiceAdvertiser advertiser;
  std::unique_ptr<x11::X11DesktopInput> desktop;
  std::shared_ptr<StreamHub> hub;
  Mailbox<uint16_t> ports;
  uint16_t port = 0;
};

TEST_F(ClientInputTest, ClickScrollTypeAndKeyFromTheCommandLine) {
  ASSERT_NE(port, 0);
  EXPECT_EQ(client("click 1 0.5"), 0);
  ASSERT_TRUE(recorder.waitForCount("button", 1));
  EXPECT_EQ(client("scroll -40 --at 0 0"), 0);
  ASSERT_TRUE(recorder.waitForCount("button", 2));
  EXPECT_EQ(recorder.linesStartingWith("button"), (std::vector<std::string>{"button 1 799 300", "button 5 0 0"}));

  EXPECT_EQ(client("type hi"), 0);
  EXPECT_EQ(client("key a --mod cmd"), 0);
  ASSERT_TRUE(recorder.waitForCount("key", 4));  // h, i, Control, a
  std::vector<std::string> keys = recorder.linesStartingWith("key");
  EXPECT_EQ(keys[0], "key 68 0 h");
  EXPECT_EQ(keys[1], "key 69 0 i");
  EXPECT_EQ(keys[3], "key 61 4 a");
}

}  // namespace
}  // namespace vistaro::testing
