#pragma once

#include <cstdint>
#include <string>

namespace vistaro {

// DNS service discovery for the listener. Discovery is a convenience: the
// listener never waits for it and never fails because of it.
class ServiceAdvertiser {
 public:
  static constexpr const char* kServiceType = "_velmora._tcp";

  virtual ~ServiceAdvertiser() = default;
  // Publishes (or moves) the service under the name on the port; the same
  // name and port again change nothing. Returns at once.
  virtual void advertise(const std::string& name, uint16_t port) = 0;
  // Takes the service off the network. Returns at once.
  virtual void withdraw() = 0;
};

}  // namespace vistaro
