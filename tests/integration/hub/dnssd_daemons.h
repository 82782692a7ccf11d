#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vistaro::testing {

// Polls the condition until it holds or the time is up; the machine may be busy.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// A child process, ended (SIGTERM, then waited for) when dropped.
class ChildProcess {
 public:
  // Output goes to the log file.
  ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool running();

 private:
  pid_t pid_ = -1;
};

// A private system bus and an Avahi daemon on loopback, in a temp folder.
// Needs the namespace of in_private_network.sh: the daemon uses /run.
class DnssdDaemons {
 public:
  DnssdDaemons();
  ~DnssdDaemons();
  // Points this process's libdbus at the private bus.
  void exportBusAddress() const;
  void startBus();
  void stopBus();
  void startAvahi();
  void stopAvahi();

 private:
  std::filesystem::path dir_;
  std::optional<ChildProcess> bus_;
  std::optional<ChildProcess> avahi_;
};

struct BrowsedService {
  std::string name;
  uint16_t port = 0;
  bool operator==(const BrowsedService&) const = default;
};

// What `avahi-browse -rpt _velmora._tcp` resolves right now, one entry per service.
std::vector<BrowsedService> browseVelmora();
// Browses until the list equals the expected one, or the time is up; returns the last list.
std::vector<BrowsedService> browseUntil(const std::vector<BrowsedService>& expected,
                                        std::chrono::seconds patience = std::chrono::seconds(15));

}  // namespace vistaro::testing
