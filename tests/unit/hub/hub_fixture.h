#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/manual_executor.h"
#include "fakes/fake_layer_encoder.h"
#include "fakes/fake_listener.h"
#include "fakes/fake_service_advertiser.h"
#include "fakes/memory_stream.h"
#include "server/stream_hub.h"

namespace vistaro::testing {

// What a client received, cut at the frame boundaries.
struct Received {
  MessageType type;
  std::string body;
};

Bytes framed(MessageType type, const std::string& body);
std::vector<Received> receivedBy(const MemoryStream& stream);

// A hub on virtual time with fake listener, advertiser and desktop. The
// listener is up on the preferred port and the host PIN is "123456".
class HubFixture : public ::testing::Test {
 protected:
  HubFixture();

  // A new connection from the listener.
  std::shared_ptr<MemoryStream> connect(const std::string& from = "192.0.2.1");
  void send(MemoryStream& stream, MessageType type, const std::string& body);
  // Connects and authenticates as the name.
  std::shared_ptr<MemoryStream> connectAuthed(const std::string& name, const std::string& features = "",
                                              const std::string& from = "192.0.2.1");
  static std::string hello(const std::string& pin, const std::string& name, const std::string& features = "");
  const StreamHub::Client& onlyClient() const;

  ManualExecutor queue;
  ManualExecutor encodeQueue;
  ManualExecutor mainQueue;
  FakeLayerEncoder encoder;
  FakeListenerFactory listeners;
  FakeServiceAdvertiser advertiser;

  // The fake desktop.
  bool trusted = true;
  std::vector<InputMessage> injected;
  std::vector<KeyMessage> typed;
  bool keyQueueFull = false;
  std::vector<uint64_t> droppedKeysOf;
  std::vector<std::pair<Point, std::function<void(bool)>>> focusChecks;

  std::vector<std::vector<std::string>> reportedNames;
  std::vector<std::pair<std::string, std::optional<uint16_t>>> listenerStates;
  int permissionPrompts = 0;
  std::vector<StreamHub::AuthFailures> authFailures;
  std::shared_ptr<StreamHub> hub;
};

}  // namespace vistaro::testing
