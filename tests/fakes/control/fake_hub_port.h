#pragma once

#include "control/hub_port.h"

namespace vistaro::testing {

// Records what the controller asks of the hub; tests fire its callbacks by hand.
class FakeHubPort final : public HubPort {
 public:
  Callbacks callbacks;
  std::vector<std::string> pins;
  std::optional<std::string> serviceName;
  std::vector<WelcomeMessage> welcomes;
  std::vector<ErrorMessage> errors;
  int clears = 0;

  void setCallbacks(Callbacks c) override { callbacks = std::move(c); }
  void start(std::string name) override { serviceName = std::move(name); }
  void setPin(std::string pin) override { pins.push_back(std::move(pin)); }
  void setWelcome(WelcomeMessage welcome) override { welcomes.push_back(std::move(welcome)); }
  void broadcastError(std::string code, std::string text) override { errors.push_back({std::move(code), std::move(text)}); }
  void submit(CapturedFrame) override {}
  void clearLatest() override { ++clears; }
};

}  // namespace vistaro::testing
