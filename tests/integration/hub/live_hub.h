#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/asio_executor.h"
#include "fakes/fake_layer_encoder.h"
#include "integration/hub/mailbox.h"
#include "server/stream_hub.h"
#include "server/tls_listener_factory.h"

namespace vistaro::testing {

// A hub on its real queues and TLS listener, started with a PIN and a welcome.
class LiveHub {
 public:
  using ListenerState = std::pair<std::string, std::optional<uint16_t>>;

  explicit LiveHub(ServiceAdvertiser& advertiser, const std::string& pin = "123456");
  // Frames made by this encoder (used on the encode queue only) instead of stand-in bytes.
  LiveHub(ServiceAdvertiser& advertiser, LayerEncoder& encoder);
  ~LiveHub();

  StreamHub& operator*() { return *hub_; }
  StreamHub* operator->() { return hub_.get(); }
  // The port of the next "listening" report; fails the test on any other report.
  uint16_t nextListeningPort();

  Mailbox<ListenerState> listenerStates;
  Mailbox<std::vector<std::string>> names;
  Mailbox<StreamHub::AuthFailures> authFailures;

 private:
  void start(ServiceAdvertiser& advertiser, LayerEncoder& encoder, const std::string& pin);

  AsioExecutor queue_{"velmora.hub"};
  AsioExecutor encodeQueue_{"velmora.encode"};
  AsioExecutor mainQueue_{"main"};
  FakeLayerEncoder fakeEncoder_;
  TlsListenerFactory listeners_{queue_};
  std::shared_ptr<StreamHub> hub_;
};

}  // namespace vistaro::testing
