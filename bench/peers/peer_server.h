#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "bench/peers/desktop.h"
#include "bench/peers/watcher.h"

namespace vistaro::peers {

// The servers compared, in the table's column order.
enum class Peer { x0vncserver, x11vnc, hostFullBase, hostSmallBase };
inline constexpr Peer kPeers[] = {Peer::x0vncserver, Peer::x11vnc, Peer::hostFullBase, Peer::hostSmallBase};
std::string peerName(Peer peer);

// One server sharing the desktop, started when made and ended when dropped.
class PeerServer {
 public:
  virtual ~PeerServer() = default;
  virtual pid_t pid() const = 0;
  // A new client session against it, pulling as soon as it is up.
  virtual std::unique_ptr<Watcher> watch() = 0;
  // Reads what the server printed so that it never blocks on a full pipe.
  virtual void drainOutput() {}
};

std::unique_ptr<PeerServer> startPeer(Peer peer, Desktop& desktop);

}  // namespace vistaro::peers
