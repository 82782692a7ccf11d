#include "integration/hub/live_hub.h"

#include <gtest/gtest.h>

#include "support/cross_thread_events.h"

namespace vistaro::testing {

LiveHub::LiveHub(ServiceAdvertiser& advertiser, const std::string& pin) { start(advertiser, fakeEncoder_, pin); }

LiveHub::LiveHub(ServiceAdvertiser& advertiser, LayerEncoder& encoder) { start(advertiser, encoder, "123456"); }

void LiveHub::start(ServiceAdvertiser& advertiser, LayerEncoder& encoder, const std::string& pin) {
  hub_ = StreamHub::create({queue_, encodeQueue_, encoder, mainQueue_, listeners_, advertiser, HubInput{}});
  hub_->onListenerState = [this](std::string status, std::optional<uint16_t> port) {
    listenerStates.put({std::move(status), port});
  };
  hub_->onClientsChanged = [this](std::vector<std::string> list) { names.put(std::move(list)); };
  hub_->onAuthFailures = [this](const StreamHub::AuthFailures& failures) { authFailures.put(failures); };
  hub_->setPin(pin);
  hub_->setWelcome({.hostName = "desk", .displays = {{1, "Main", 1920, 1080}}, .current = 1});
  hub_->start("Desk");
}

LiveHub::~LiveHub() {
  // The hub and its connections end on their own queue.
  runOn(queue_, [this] { hub_.reset(); });
}

uint16_t LiveHub::nextListeningPort() {
  const auto state = listenerStates.take();
  EXPECT_TRUE(state.has_value());
  if (!state) return 0;
  EXPECT_EQ(state->first, "待受中");
  EXPECT_TRUE(state->second.has_value());
  return state->second.value_or(0);
}

}  // namespace vistaro::testing
