#pragma once

#include <vector>

#include "control/controller_platform.h"

namespace vistaro::testing {

// A desktop "desk" whose main display is 1 and whose random numbers are the test's.
class FakeControllerPlatform final : public ControllerPlatform {
 public:
  bool capturePermitted = true;
  int prompts = 0;
  std::function<void()> screenChanged;
  std::vector<uint32_t> randoms{4242};  // then zeros
  size_t drawn = 0;

  std::string hostName() override { return "desk"; }
  bool hasScreenCapturePermission() override { return capturePermitted; }
  bool isInputTrusted() override { return true; }
  void promptForInputPermission() override { ++prompts; }
  std::optional<DisplayID> mainDisplayID() override { return 1; }
  void observeScreenChanges(std::function<void()> changed) override { screenChanged = std::move(changed); }
  uint32_t randomBelow(uint32_t bound) override { return drawn < randoms.size() ? randoms[drawn++] % bound : 0; }
};

}  // namespace vistaro::testing
