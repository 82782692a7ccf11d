#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/manual_executor.h"
#include "fakes/capture/fake_layer_encoder.h"
#include "fakes/input/fake_desktop_input.h"
#include "fakes/server/fake_listener.h"
#include "fakes/server/fake_service_advertiser.h"
#include "fakes/wire/memory_stream.h"
#include "server/stream_hub.h"

namespace vistaro::testing {

// What a client received, cut at the message boundaries.
struct Received {
  MessageType type;
  std::string body;
  bool operator==(const Received&) const = default;
};
std::vector<Received> receivedBy(const MemoryStream& stream);

// A hub on virtual time with a fake listener, advertiser, encoder and desktop. The listener
// is up on the preferred port and the host PIN is "123456".
class HubFixture : public ::testing::Test {
 protected:
  HubFixture();

  // A new connection from the listener, from the address (its own source).
  std::shared_ptr<MemoryStream> connect(const std::string& from = "192.0.2.1");
  void send(MemoryStream& stream, MessageType type, const std::string& body);
  std::shared_ptr<MemoryStream> connectAuthed(const std::string& name, const std::string& features = "",
                                              const std::string& from = "192.0.2.1");
  static std::string hello(const std::string& pin, const std::string& name, const std::string& features = "");
  // Runs the hub, the encoder and the main queue until none has work left.
  void settle();

  ManualExecutor queue;
  ManualExecutor encodeQueue;
  FakeLayerEncoder encoder;
  FakeListenerFactory listeners;
  FakeServiceAdvertiser advertiser;
  FakeDesktopInput desktop;
  std::shared_ptr<StreamHub> hub;

  // What the hub reported.
  std::vector<std::vector<std::string>> names;
  std::vector<std::pair<std::string, std::optional<uint16_t>>> listenerStates;
  std::vector<std::string> events;  // "select 7", "headless 1", "fit 0", "screen 1170x2532", "prompt"
  std::vector<AuthFailures> authFailures;
};

}  // namespace vistaro::testing
