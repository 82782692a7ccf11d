#pragma once

#include <deque>

#include "control/controller_platform.h"

namespace vistaro::testing {

class FakeControllerPlatform final : public ControllerPlatform {
 public:
  std::string name = "desk";
  bool capturePermitted = true;
  bool inputTrusted = true;
  int prompts = 0;
  std::optional<DisplayID> mainDisplay = 1;
  std::function<void()> screenChanged;
  std::deque<uint32_t> randoms{4242};

  std::string hostName() override { return name; }
  bool hasScreenCapturePermission() override { return capturePermitted; }
  bool isInputTrusted() override { return inputTrusted; }
  void promptForInputPermission() override { ++prompts; }
  std::optional<DisplayID> mainDisplayID() override { return mainDisplay; }
  void observeScreenChanges(std::function<void()> changed) override { screenChanged = std::move(changed); }
  uint32_t randomBelow(uint32_t bound) override {
    const uint32_t value = randoms.empty() ? 0 : randoms.front();
    if (!randoms.empty()) randoms.pop_front();
    return value % bound;
  }
};

}  // namespace vistaro::testing
