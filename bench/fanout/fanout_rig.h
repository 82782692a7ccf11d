#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/frame_encoder.h"
#include "client/client_connection.h"
#include "fakes/server/fake_service_advertiser.h"
#include "fakes/input/fake_desktop_input.h"
#include "server/stream_hub.h"
#include "server/tls_listener_factory.h"

namespace vistaro::bench {

// A hub with the real encoder on its real queues, and clients of the reference
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

  AsioExecutor queue_{"velmora.hub"};
  AsioExecutor encodeQueue_{"velmora.encode"};
  AsioExecutor clientQueue_{"bench-clients"};
  FrameEncoder encoder_;
  TlsListenerFactory listeners_{queue_};
  testing::FakeServiceAdvertiser advertiser_;
  testing::FakeDesktopInput input_;
  std::shared_ptr<StreamHub> hub_;
  std::vector<std::shared_ptr<client::ClientConnection>> clients_;

  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t received_ = 0;
  uint64_t welcomed_ = 0;
  std::atomic<uint64_t> bytes_ = 0;
  std::optional<uint16_t> port_;
};

}  // namespace vistaro::bench
