#pragma once

#include <functional>
#include <string>
#include <vector>

#include "control/controller_platform.h"
#include "core/executor.h"
#include "platform/linux/host_name.h"
#include "platform/linux/secure_random.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {

// The controller's questions answered by an X11 session.
class X11ControllerPlatform final : public ControllerPlatform {
 public:
  static constexpr Duration kScreenPollInterval = std::chrono::seconds(2);

  X11ControllerPlatform(Executor& main, std::string displayName);
  ~X11ControllerPlatform() override;

  std::string hostName() override { return vistaro::hostName(); }
  bool hasScreenCapturePermission() override;
  // The server offers XTest, through which the pointer and keys are injected.
  bool isInputTrusted() override;
  void promptForInputPermission() override;
  std::optional<DisplayID> mainDisplayID() override;
  void observeScreenChanges(std::function<void()> changed) override;
  uint32_t randomBelow(uint32_t bound) override { return secureRandomBelow(bound); }

 private:
  std::vector<Monitor> monitors();
  void pollScreens();

  Executor& main_;
  std::string displayName_;
  std::function<void()> screensChanged_;
  std::vector<Monitor> lastMonitors_;
  Cancellable poll_;
};

}  // namespace vistaro::x11
