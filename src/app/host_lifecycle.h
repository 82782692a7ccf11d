#pragma once

#include <cstdio>
#include <functional>
#include <memory>

#include "app/headless_console.h"
#include "app/host.h"
#include "app/termination_signals.h"

namespace vistaro {

// One run of the host on whichever loop drives the main executor: the host and its console
// view, and the one way the run ends (quit, relaunch and termination signals alike): the
// desktop put back by the controller, then the loop ends with status 0.
class HostLifecycle {
 public:
  // `exitLoop(status)` ends the loop that runs `main`.
  HostLifecycle(Executor& main, HostOptions options, std::FILE* console, std::function<void(int)> exitLoop);
  ~HostLifecycle();
  HostLifecycle(const HostLifecycle&) = delete;
  HostLifecycle& operator=(const HostLifecycle&) = delete;

  // On the main executor. False (the loop told to end with status 1) when there is no host.
  bool start();
  // On the main executor; a second request while ending changes nothing.
  void end(const std::string& why);
  Host& host() { return *host_; }

 private:
  Executor& main_;
  HostOptions options_;
  std::FILE* out_;
  std::function<void(int)> exitLoop_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<HeadlessConsole> console_;
  bool ending_ = false;
  LifetimeGuard guard_;
  TerminationSignals signals_;
};

}  // namespace vistaro
