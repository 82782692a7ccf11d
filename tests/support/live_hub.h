#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/frame_encoder.h"
#include "core/asio_executor.h"
#include "fakes/capture/fake_layer_encoder.h"
#include "fakes/input/fake_desktop_input.h"
#include "fakes/server/fake_service_advertiser.h"
#include "server/stream_hub.h"
#include "server/tls_listener_factory.h"
#include "support/threads.h"

namespace vistaro::testing {

// A hub on its real queues and TLS listener, started with PIN "123456" and a welcome for one
// 1920 × 1080 display; the desktop is a fake.
class LiveHub {
 public:
  using ListenerState = std::pair<std::string, std::optional<uint16_t>>;
  struct Options {
    ServiceAdvertiser* advertiser = nullptr;  // a fake when absent
    bool realEncoder = false;                 // JPEGs instead of stand-in bytes
  };

  LiveHub() : LiveHub(Options{}) {}
  explicit LiveHub(Options options);
  ~LiveHub();

  StreamHub* operator->() { return hub_.get(); }
  // The port of the next "listening" report; fails the test on any other report.
  uint16_t nextListeningPort();

  Mailbox<ListenerState> listenerStates;
  Mailbox<std::vector<std::string>> names;
  Mailbox<AuthFailures> authFailures;

 private:
  AsioExecutor queue_{"velmora.hub"};
  AsioExecutor encodeQueue_{"velmora.encode"};
  FakeLayerEncoder fakeEncoder_;
  FrameEncoder encoder_;
  FakeServiceAdvertiser fakeAdvertiser_;
  FakeDesktopInput desktop_;
  TlsListenerFactory listeners_{queue_};
  std::shared_ptr<StreamHub> hub_;
};

}  // namespace vistaro::testing
