#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistaro {

// An endpoint a peer may be reached at: an IPv4 address or a name, or an IPv6 address
// (written in brackets, kept without them).
struct Candidate {
  std::string host;
  uint16_t port = 0;
  bool v6 = false;

  bool operator==(const Candidate&) const = default;
};

// "HOST:PORT" or "[V6]:PORT"; absent for anything else (a bare IPv6 address among them).
std::optional<Candidate> splitEndpoint(std::string_view text);
// Endpoints separated by ","; the pieces that are none are left out.
std::vector<Candidate> parseCandidates(std::string_view text);

}  // namespace vistaro
