#include "support/host_process.h"

#include <signal.h>

#include <fstream>
#include <regex>

namespace vistaro::testing {

HostProcess::HostProcess(const std::string& display, const std::string& pin, std::filesystem::path executable)
    : display_(display), executable_(std::move(executable)) {
  std::filesystem::create_directories(settingsFile().parent_path());
  std::ofstream(settingsFile()) << R"({"pin":")" << pin << R"("})";
  start();
}

void HostProcess::start() {
  // No system bus: the host must not advertise itself through the machine's own DNS-SD daemon.
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{executable_.string(), "--headless", "--display", display_},
      ChildProcess::Options{.environment = {"XDG_CONFIG_HOME=" + config_.path().string(),
                                            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"}});
}

uint16_t HostProcess::port() {
  static const std::regex watchCommand("watch it with: .* --port ([0-9]+) .*\n");
  std::smatch match;
  if (!eventually([&] { return std::regex_search(process_->output(), match, watchCommand); })) return 0;
  return static_cast<uint16_t>(std::stoi(match[1]));
}

int HostProcess::terminate(std::chrono::milliseconds patience) {
  process_->signal(SIGTERM);
  return process_->waitForExit(patience);
}

}  // namespace vistaro::testing
