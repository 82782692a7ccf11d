#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace vistaro::testing {

// A private system bus and an Avahi daemon on loopback, in a temp folder. Needs the namespace
// of in_private_network.sh: the daemon uses /run.
class DnssdDaemons {
 public:
  DnssdDaemons();
  ~DnssdDaemons();
  // Points this process's libdbus at the private bus: before any Avahi client exists.
  void exportBusAddress() const;
  void startBus();
  void startAvahi();
  void stopAvahi() { avahi_.reset(); }

 private:
  TempDir dir_;
  std::optional<ChildProcess> bus_;
  std::optional<ChildProcess> avahi_;
};

struct BrowsedService {
  std::string name;
  uint16_t port = 0;
  auto operator<=>(const BrowsedService&) const = default;
};
using Services = std::vector<BrowsedService>;

// Browses `_velmora._tcp` until the services are the expected ones or the time is up; the last seen.
Services browseUntil(const Services& expected);

}  // namespace vistaro::testing
