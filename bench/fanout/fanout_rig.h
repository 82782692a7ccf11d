#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "client/client_connection.h"
#include "support/live_hub.h"

namespace vistaro::bench {

// A live hub with the real encoder, and clients of the reference
// client library connected over loopback TLS, each pulling every frame.
class FanoutRig {
 public:
  explicit FanoutRig(int clients);
  ~FanoutRig();

  // Submits the frame and waits until every client has received its message for it.
  void deliver(SharedPixels frame, DirtyRegion changes);
  uint64_t bytesReceived() const { return bytes_; }

 private:
  void frameArrived(size_t bytes);

  testing::LiveHub hub_{{.realEncoder = true}};
  AsioExecutor clientQueue_{"bench-clients"};
  std::vector<std::shared_ptr<client::ClientConnection>> clients_;

  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t received_ = 0;
  uint64_t welcomed_ = 0;
  std::atomic<uint64_t> bytes_ = 0;
};

}  // namespace vistaro::bench
