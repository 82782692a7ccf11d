#include "server/relayed_peers.h"

namespace vistaro {

std::shared_ptr<void> RelayedPeers::add(uint16_t loopbackPort, PeerAddress peer) {
  {
    std::lock_guard lock(mutex_);
    peers_[loopbackPort] = std::move(peer);
  }
  return std::shared_ptr<void>(nullptr, [this, loopbackPort](void*) {
    std::lock_guard lock(mutex_);
    peers_.erase(loopbackPort);
  });
}

std::optional<PeerAddress> RelayedPeers::find(uint16_t loopbackPort) const {
  std::lock_guard lock(mutex_);
  const auto found = peers_.find(loopbackPort);
  if (found == peers_.end()) return std::nullopt;
  return found->second;
}

}  // namespace vistaro
