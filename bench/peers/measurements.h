#pragma once

#include <vector>

#include "bench/peers/desktop.h"
#include "bench/peers/peer_server.h"

namespace vistaro::peers {

enum class Workload { typing, scrolling };

// One measured period of a workload against one server.
struct Usage {
  double seconds = 0;
  double serverCpu = 0;   // the VNC server's or vistaro-host's CPU seconds
  double displayCpu = 0;  // Xvfb's
  int updates = 0;        // received by the first client
  int unchanged = 0;      // of them, updates that changed no pixel
  double bytes = 0;       // likewise
};

// The workload runs in a fresh terminal while `clients` clients watch; measured after a warm-up.
Usage measureWorkload(Desktop& desktop, Peer peer, Workload workload, int seconds, int clients = 1);

// Milliseconds from a key the client sent to the first update that changed the picture, one per key
// that was answered within two seconds.
std::vector<double> keyToFrameMilliseconds(Desktop& desktop, Peer peer, int keys);

}  // namespace vistaro::peers
