#include "integration/app/host_process.h"

#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <stdexcept>

namespace vistaro::testing {

HostProcess::HostProcess(const std::string& display, const std::string& pin) : display_(display) {
  std::string folder = (std::filesystem::temp_directory_path() / "vistaro-host-test-XXXXXX").string();
  if (!mkdtemp(folder.data())) throw std::runtime_error("mkdtemp");
  configHome_ = folder;
  std::filesystem::create_directories(settingsFile().parent_path());
  std::ofstream(settingsFile()) << R"({"pin":")" << pin << R"("})";
  start();
}

HostProcess::~HostProcess() {
  process_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(configHome_, ignored);
}

void HostProcess::start() {
  // No system bus: the host must not advertise itself through the machine's own DNS-SD daemon.
  process_ = std::make_unique<PipedProcess>(std::vector<std::string>{
      "env", "XDG_CONFIG_HOME=" + configHome_.string(), "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent",
      VISTARO_BINARY_DIR "/src/app/vistaro-host", "--headless", "--display", display_});
}

uint16_t HostProcess::port() {
  static const std::regex watchCommand("watch it with: .* --port ([0-9]+) .*\n");
  std::smatch match;
  process_->waitForOutput("watch it with:", kPatience);
  process_->waitForOutput("\n", kPatience, output().find("watch it with:"));
  const std::string& text = output();
  return std::regex_search(text, match, watchCommand) ? static_cast<uint16_t>(std::stoi(match[1])) : 0;
}

bool HostProcess::waitForOutput(const std::string& text, size_t from) {
  return process_->waitForOutput(text, kPatience, from);
}

int HostProcess::terminate(std::chrono::milliseconds patience) {
  process_->signal(SIGTERM);
  return process_->waitForExit(patience);
}

bool HostProcess::running() { return process_->waitForExit(std::chrono::milliseconds(0)) == -1; }

}  // namespace vistaro::testing
