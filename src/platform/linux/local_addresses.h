#pragma once

#include <string>
#include <vector>

namespace vistaro {

// The host's IPv4 addresses a client on the LAN can use: interfaces that are
// up, not loopback, not link-local (169.254/16); in the system's order.
std::vector<std::string> localAddresses();

}  // namespace vistaro
