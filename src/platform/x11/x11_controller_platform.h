#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control/controller_platform.h"
#include "core/asio_executor.h"
#include "core/lifetime_guard.h"
#include "platform/linux/host_name.h"
#include "platform/linux/secure_random.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {

// The controller's questions answered by an X11 session. The X server is asked on a thread of
// its own, every couple of seconds, over one connection kept open (and opened again when the
// server comes back); the answers wait on the main executor, so a slow or hung server never
// holds the main executor (and key injection with it) up.
class X11ControllerPlatform final : public ControllerPlatform {
 public:
  static constexpr Duration kScreenPollInterval = std::chrono::seconds(2);
  // At start the first answers are waited for this long, no longer.
  static constexpr Duration kFirstProbePatience = std::chrono::seconds(2);

  X11ControllerPlatform(Executor& main, std::string displayName);
  ~X11ControllerPlatform() override;

  std::string hostName() override { return vistaro::hostName(); }
  bool hasScreenCapturePermission() override { return answers_.displayOpens; }
  // The server offers XTest, through which the pointer and keys are injected.
  bool isInputTrusted() override { return answers_.xtest; }
  void promptForInputPermission() override;
  std::optional<DisplayID> mainDisplayID() override;
  void observeScreenChanges(std::function<void()> changed) override { screensChanged_ = std::move(changed); }
  uint32_t randomBelow(uint32_t bound) override { return secureRandomBelow(bound); }

 private:
  struct Answers {
    bool displayOpens = false;
    bool xtest = false;
    std::vector<Monitor> monitors;
  };
  Answers probe();           // session thread
  void schedulePoll();       // session thread
  void arrived(Answers answers);  // main executor

  Executor& main_;
  std::string displayName_;
  Answers answers_;  // main executor
  std::function<void()> screensChanged_;
  std::unique_ptr<Connection> connection_;  // session thread
  LifetimeGuard guard_;  // for what is posted to the main executor
  AsioExecutor session_{"velmora.session"};  // last: its thread ends before the rest goes
};

}  // namespace vistaro::x11
