#include "support/live_hub.h"

#include <gtest/gtest.h>

namespace vistaro::testing {

LiveHub::LiveHub(Options options) {
  LayerEncoder& encoder = options.realEncoder ? static_cast<LayerEncoder&>(encoder_) : fakeEncoder_;
  ServiceAdvertiser& advertiser = options.advertiser ? *options.advertiser : fakeAdvertiser_;
  hub_ = StreamHub::create({queue_, encodeQueue_, encoder, listeners_, advertiser, desktop_});
  StreamHub::Events events;
  events.listenerState = [this](std::string status, std::optional<uint16_t> port) {
    listenerStates.put({std::move(status), port});
  };
  events.clientsChanged = [this](std::vector<std::string> list) { names.put(std::move(list)); };
  events.authFailures = [this](const AuthFailures& failures) { authFailures.put(failures); };
  hub_->setEvents(std::move(events));
  hub_->setPin("123456");
  hub_->setWelcome({.hostName = "desk", .displays = {{1, "Main", 1920, 1080}}, .current = 1});
  hub_->start("Desk");
}

LiveHub::~LiveHub() {
  // The hub and its connections end on their own queue.
  runOn(queue_, [this] { hub_.reset(); });
}

uint16_t LiveHub::nextListeningPort() {
  const auto state = listenerStates.take();
  EXPECT_TRUE(state && state->first == "待受中" && state->second) << (state ? state->first : "nothing");
  return state && state->second ? *state->second : 0;
}

}  // namespace vistaro::testing
