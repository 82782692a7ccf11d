// The sending half of the hub: one frame message in flight per client, built
// from the latest frame when the client has credit.
#include "server/stream_hub.h"

namespace vistaro {

void StreamHub::sendFrame(const std::shared_ptr<Client>& client) {
  if (!client->authed || client->busy || client->credits < 1 || !client->pending || !latest_) return;
  auto plan = planFrame(*latest_, *client->pending, client->patches, client->base, client->detail);
  if (!plan) return;
  client->credits -= 1;
  client->busy = true;
  // The job holds the client, not the hub: a hub that is gone encodes nothing.
  encodeQueue_.post([weak = weak_from_this(), client, plan = std::move(*plan)] {
    auto hub = weak.lock();
    if (!hub) return;
    EncodedFrame frame = encodeFrame(hub->encoder_, plan);
    hub->queue_.post([weak, client, frame = std::move(frame)]() mutable {
      if (auto hub = weak.lock()) hub->frameEncoded(client, std::move(frame));
    });
  });
}

void StreamHub::frameEncoded(const std::shared_ptr<Client>& client, EncodedFrame frame) {
  if (!clients_.count(client->id)) return;  // gone while its frame was encoded
  // An image the client did not receive must not be patched later: send it whole next time.
  if (frame.baseIncomplete) client->base.forget();
  if (frame.detailIncomplete) client->detail.forget();
  client->conn->send(MessageType::frame, frame.body, [weak = weak_from_this(), client](std::error_code) {
    if (auto hub = weak.lock()) {
      hub->queue_.post([weak, client] {
        client->busy = false;
        if (auto hub = weak.lock()) hub->sendFrame(client);
      });
    }
  });
}

}  // namespace vistaro
