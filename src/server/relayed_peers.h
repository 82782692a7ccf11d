#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "wire/byte_stream.h"

namespace vistaro {

// Connections that the host's own agents open to the local listener on behalf of a client
// elsewhere (the direct path). The listener credits each to that client's address, so the PIN
// throttle and the connection caps see the real source, not the loopback address all of them
// would share. Used from the agents' queue and the hub's, hence the lock.
class RelayedPeers {
 public:
  // For the connection that comes from this port of a loopback address; the entry goes with
  // the returned handle, which must not outlive this registry.
  [[nodiscard]] std::shared_ptr<void> add(uint16_t loopbackPort, PeerAddress peer);
  std::optional<PeerAddress> find(uint16_t loopbackPort) const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<uint16_t, PeerAddress> peers_;
};

}  // namespace vistaro
