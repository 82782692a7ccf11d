#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "display/power_services.h"

namespace vistaro {

// The shell loop the watchdog runs: it waits while the process `pid` that started at `startTicks`
// (field 22 of /proc/PID/stat) lives, so that a process given the same number later cannot keep it
// waiting, nor a zombie; then it runs `command`, each word quoted, followed by --restore-displays.
std::string watchdogScript(pid_t pid, unsigned long long startTicks, const std::vector<std::string>& command);
// Field 22 of /proc/PID/stat: when the process started, in clock ticks since boot; 0 when it is gone.
unsigned long long processStartTicks(pid_t pid);

// /bin/sh with that script for this very process: our executable (/proc/self/exe) with the
// arguments it was started with, so that the new host shares the same display the same way.
class ShellWatchdog final : public RelaunchWatchdog {
 public:
  ~ShellWatchdog() override { stop(); }

  void start() override;
  void stop() override;

 private:
  pid_t shell_ = -1;
};

}  // namespace vistaro
