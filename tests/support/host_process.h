#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace vistaro::testing {

// vistaro-host --headless on an X display, as a user starts it, with a settings folder of
// its own that holds a known PIN. Killed when dropped.
class HostProcess {
 public:
  HostProcess(const std::string& display, const std::string& pin,
              std::filesystem::path executable = VISTARO_BINARY_DIR "/src/app/vistaro-host");

  // Starts the host again on the same settings after terminate().
  void start();
  // The port of the watch command the console prints; 0 if none came.
  uint16_t port();
  // Where the console output ends now: lines printed later come after it.
  size_t mark() { return process_->output().size(); }
  bool waitForOutput(const std::string& text, size_t from = 0) { return process_->waitForOutput(text, kPatience, from); }
  // SIGTERM; the exit status, or -1 if the host did not end within the time.
  int terminate(std::chrono::milliseconds patience);
  bool running() { return process_->running(); }
  pid_t pid() const { return process_->pid(); }
  const std::string& output() { return process_->output(); }
  std::filesystem::path settingsFile() const { return config_ / "vistaro-host" / "settings.json"; }

 private:
  std::string display_;
  std::filesystem::path executable_;
  TempDir config_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace vistaro::testing
