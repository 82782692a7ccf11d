#pragma once

#include "core/asio_executor.h"
#include "server/listener.h"
#include "server/relayed_peers.h"

namespace vistaro {

// The hub's real listeners: TLS-PSK over dual-stack TCP, on the hub's executor.
class TlsListenerFactory final : public ListenerFactory {
 public:
  // With relayed peers, loopback connections that the host's agents registered there are
  // credited to the client they were opened for.
  explicit TlsListenerFactory(AsioExecutor& executor, const RelayedPeers* relayedPeers = nullptr)
      : executor_(executor), relayedPeers_(relayedPeers) {}

  // A port that cannot be bound is reported as a failure, as any later
  // failure of the listener would be; nothing here throws.
  std::unique_ptr<Listener> listen(std::optional<uint16_t> port, const std::string& pin,
                                   Listener::Handlers handlers) override;

 private:
  AsioExecutor& executor_;
  const RelayedPeers* relayedPeers_;
};

}  // namespace vistaro
