#include "bench/fanout/fanout_rig.h"

#include "support/threads.h"

namespace vistaro::bench {
namespace {

using testing::runOn;

// A phone zoomed into a different part of the screen for each client.
RequestMessage requestOf(int client) {
  const double x = 0.15 * (client % 4), y = 0.15 * (client / 4 % 4);
  return {.viewport = std::vector<double>{x, y, 0.4, 0.4}, .detailMaxW = 1179, .detailMaxH = 2556, .baseMaxW = 1440};
}

}  // namespace

FanoutRig::FanoutRig(int clients) {
  const uint16_t port = hub_.nextListeningPort();
  runOn(clientQueue_, [&] {
    for (int n = 0; n < clients; ++n) {
      client::ClientOptions options{.port = port, .pin = "123456", .name = "bench", .features = {"patch"}};
      auto connection = client::ClientConnection::create(clientQueue_, options);
      client::ClientConnection* self = connection.get();
      const RequestMessage request = requestOf(n);
      connection->onWelcome = [this, self, request](const WelcomeMessage&) {
        self->request(request);
        self->request(request);
        std::lock_guard lock(mutex_);
        ++welcomed_;
        changed_.notify_all();
      };
      connection->onFrame = [this, self, request](Bytes body) {
        self->request(request);
        frameArrived(body.size());
      };
      connection->start();
      clients_.push_back(connection);
    }
  });
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return welcomed_ == clients_.size(); });
}

FanoutRig::~FanoutRig() {
  runOn(clientQueue_, [&] {
    for (auto& connection : clients_) connection->close();
    clients_.clear();
  });
}

void FanoutRig::frameArrived(size_t bytes) {
  bytes_ += bytes;
  std::lock_guard lock(mutex_);
  ++received_;
  changed_.notify_all();
}

void FanoutRig::deliver(SharedPixels frame, DirtyRegion changes) {
  std::unique_lock lock(mutex_);
  const uint64_t expected = received_ + clients_.size();
  lock.unlock();
  hub_->submit({std::move(frame), 1, 2.0, std::move(changes)});
  lock.lock();
  changed_.wait(lock, [&] { return received_ >= expected; });
}

}  // namespace vistaro::bench
