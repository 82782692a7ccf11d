// An authenticated client's input and key messages act on a real X display.
#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "integration/input/recorder_process.h"
#include "platform/x11/x11_desktop_input.h"
#include "platform/x11/x11_monitors.h"
#include "support/xvfb_server.h"
#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

class HubInputTest : public ::testing::Test {
 protected:
  HubInputTest() {
    hub = StreamHub::create({queue, encodeQueue, encoder, mainQueue, listeners, advertiser, desktop.hubInput()});
    hub->setPin("123456");
    hub->start("Desk");
    queue.runUntilIdle();
    listeners.last().handlers.onReady(StreamHub::kPreferredPort);
    stream = std::make_shared<MemoryStream>(queue);
    listeners.last().handlers.onAccept(stream);
    send(MessageType::hello, R"({"pin":"123456","name":"Phone","version":1})");
  }
  void send(MessageType type, const std::string& body) {
    stream->injectBytes(framed(type, body));
    queue.runUntilIdle();
    mainQueue.runUntilIdle();
  }

  XvfbServer server{800, 600};
  RecorderProcess recorder{server.name()};
  ManualExecutor queue;
  ManualExecutor encodeQueue;
  ManualExecutor mainQueue;
  FakeLayerEncoder encoder;
  FakeListenerFactory listeners;
  FakeServiceAdvertiser advertiser;
  x11::X11DesktopInput desktop{mainQueue, CmdModifier::ctrl, server.name()};
  std::shared_ptr<StreamHub> hub;
  std::shared_ptr<MemoryStream> stream;
};

TEST_F(HubInputTest, ClientClicksAndKeysReachTheDesktop) {
  DisplayID screen = x11::monitorID("screen");
  send(MessageType::input, R"({"kind":"click","x":1,"y":0.5,"clickCount":1,"displayID":)" +
                               std::to_string(screen) + "}");
  ASSERT_TRUE(recorder.waitForCount("button", 1));
  EXPECT_EQ(recorder.linesStartingWith("button"), std::vector<std::string>{"button 1 799 300"});

  send(MessageType::key, R"({"text":"ok","modifiers":[]})");
  send(MessageType::key, R"({"key":"return","modifiers":[]})");
  mainQueue.advance(std::chrono::milliseconds(100));
  ASSERT_TRUE(recorder.waitForCount("key", 3));
  EXPECT_EQ(recorder.linesStartingWith("key"), (std::vector<std::string>{"key 6f 0 o", "key 6b 0 k", "key ff0d 0 \r"}));
  for (const Received& message : receivedBy(*stream)) EXPECT_NE(message.type, MessageType::error);
}

}  // namespace
}  // namespace vistaro::testing
