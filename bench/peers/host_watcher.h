#pragma once

#include <cstdint>
#include <memory>

#include "bench/peers/watcher.h"
#include "client/client_connection.h"
#include "client/layer_images.h"
#include "core/asio_executor.h"

namespace vistaro::peers {

// The reference client with the "patch" feature, asking for the base layer at most baseMaxW wide and
// no detail layer, one request open: a new one after each frame is decoded.
class HostWatcher : public Watcher {
 public:
  HostWatcher(uint16_t port, const std::string& pin, int64_t baseMaxW);
  ~HostWatcher() override;

  Clock::time_point pressKey(char letter) override;

 private:
  AsioExecutor executor_{"watcher"};
  std::shared_ptr<client::ClientConnection> connection_;
  client::LayerImages layers_;  // watcher thread only
};

}  // namespace vistaro::peers
