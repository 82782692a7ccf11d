#pragma once

#include "control/controller_platform.h"

namespace vistaro::testing {

// A desktop "desk" whose main display is 1 and whose random numbers are the test's.
class FakeControllerPlatform final : public ControllerPlatform {
 public:
  bool capturePermitted = true;
  int prompts = 0;
  std::function<void()> screenChanged;
  uint32_t nextRandom = 4242;  // then counting up

  std::string hostName() override { return "desk"; }
  bool hasScreenCapturePermission() override { return capturePermitted; }
  bool isInputTrusted() override { return true; }
  void promptForInputPermission() override { ++prompts; }
  std::optional<DisplayID> mainDisplayID() override { return 1; }
  void observeScreenChanges(std::function<void()> changed) override { screenChanged = std::move(changed); }
  uint32_t randomBelow(uint32_t bound) override { return nextRandom++ % bound; }
};

}  // namespace vistaro::testing
