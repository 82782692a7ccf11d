#include "bench/peers/host_watcher.h"

#include <utility>

#include "client/frame_message.h"

namespace vistaro::peers {
namespace {

// Each message's length and type in front of its body.
constexpr size_t kFraming = 5;

}  // namespace

HostWatcher::HostWatcher(uint16_t port, const std::string& pin, int64_t baseMaxW) {
  const RequestMessage pull{std::nullopt, 0, 0, baseMaxW, std::nullopt};
  testing::runOn(executor_, [&] {
    connection_ = client::ClientConnection::create(
        executor_, {.port = port, .pin = pin, .name = "bench", .features = {"patch"}});
    connection_->onWelcome = [this, pull, pulling = false](const WelcomeMessage&) mutable {
      if (!std::exchange(pulling, true)) connection_->request(pull);
    };
    // Decoded before the next request, as a viewer does, and as libvncclient does for the VNC servers.
    connection_->onFrame = [this, pull](Bytes body) {
      const auto message = client::parseFrameMessage(body);
      const bool changed = message && layers_.apply(*message);
      updates.put({Clock::now(), body.size() + kFraming, changed});
      connection_->request(pull);
    };
    connection_->start();
  });
}

HostWatcher::~HostWatcher() {
  testing::runOn(executor_, [&] {
    connection_->close();
    connection_.reset();
  });
}

Clock::time_point HostWatcher::pressKey(char letter) {
  return testing::runOn(executor_, [&] {
    const auto at = Clock::now();
    connection_->key(KeyMessage{.text = std::string(1, letter)});
    return at;
  });
}

}  // namespace vistaro::peers
