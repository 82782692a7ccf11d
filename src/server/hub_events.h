#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wire/messages.h"

namespace vistaro {

// Failed PIN attempts since the host started, for the user.
struct AuthFailures {
  uint64_t count = 0;
  std::string lastAddress;
  size_t heldSources = 0;
  bool operator==(const AuthFailures&) const = default;
};

// What the hub tells its owner. Every callback runs on the hub's queue; an unset one drops
// the event (and a client message that would raise it has no effect).
struct HubEvents {
  // The sorted names of the authenticated clients, after each change.
  std::function<void(std::vector<std::string> names)> clientsChanged;
  std::function<void(DisplayID)> selectDisplay;
  // An injection was refused: the host may not inject input.
  std::function<void()> inputPermissionMissing;
  std::function<void(bool enabled)> setHeadless;
  std::function<void(bool enabled)> setFit;
  std::function<void(const ClientDisplayMessage&)> clientDisplay;
  std::function<void(std::string status, std::optional<uint16_t> port)> listenerState;
  // At most once a second while attempts fail.
  std::function<void(const AuthFailures&)> authFailures;
};

}  // namespace vistaro
