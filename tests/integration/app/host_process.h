#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/piped_process.h"

namespace vistaro::testing {

// vistaro-host --headless on an X display, as a user starts it, with a
// settings folder of its own that holds a known PIN. Killed when dropped.
class HostProcess {
 public:
  static constexpr auto kPatience = std::chrono::seconds(15);

  HostProcess(const std::string& display, const std::string& pin);
  ~HostProcess();

  // Starts the host again on the same settings after terminate().
  void start();
  // The port of the watch command the console prints; 0 if none came.
  uint16_t port();
  // Where the console output ends now: lines printed later come after it.
  size_t mark() { return output().size(); }
  // Waits for console output after `from` that contains the text.
  bool waitForOutput(const std::string& text, size_t from = 0);
  // SIGTERM; the exit status, or -1 if the host did not end within the time.
  int terminate(std::chrono::milliseconds patience);
  bool running();
  pid_t pid() const { return process_->pid(); }
  const std::string& output() { return process_->currentOutput(); }
  std::filesystem::path settingsFile() const { return configHome_ / "vistaro-host" / "settings.json"; }

 private:
  std::string display_;
  std::filesystem::path configHome_;
  std::unique_ptr<PipedProcess> process_;
};

}  // namespace vistaro::testing
