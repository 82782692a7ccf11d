#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/captured_frame.h"
#include "capture/layer_encoder.h"
#include "core/executor.h"
#include "input/desktop_input.h"
#include "server/auth_throttle.h"
#include "server/client_session.h"
#include "server/fanout/frame_fanout.h"
#include "server/hub_events.h"
#include "server/listener.h"
#include "server/service_advertiser.h"

namespace vistaro {

// The host's server: one listener advertised by DNS-SD, one ClientSession per connection,
// and the fan-out of frames. Every field lives on `queue`; the owner's operations only post
// there, and events come back on it.
class StreamHub : public std::enable_shared_from_this<StreamHub>, private ClientSession::Owner {
 public:
  static constexpr uint16_t kPreferredPort = 52525;
  static constexpr Duration kListenerRetryDelay = std::chrono::seconds(3);
  // Connections not yet authenticated, per source and in all; beyond, the oldest goes.
  static constexpr size_t kMaxPendingPerSource = 8;
  static constexpr size_t kMaxPending = 256;
  static constexpr Duration kFailureReportInterval = std::chrono::seconds(1);
  static constexpr Duration kFailureLogInterval = std::chrono::seconds(10);

  using Events = HubEvents;

  struct Dependencies {
    Executor& queue;        // "velmora.hub"
    Executor& encodeQueue;  // "velmora.encode"
    LayerEncoder& encoder;  // used on encodeQueue only
    ListenerFactory& listeners;
    ServiceAdvertiser& advertiser;
    DesktopInput& input;
    uint16_t preferredPort = kPreferredPort;
  };

  static std::shared_ptr<StreamHub> create(Dependencies dependencies);
  StreamHub(const StreamHub&) = delete;
  StreamHub& operator=(const StreamHub&) = delete;

  // Each posts its work to the hub queue and returns. Events are set once, before start().
  void setEvents(Events events);
  void start(std::string serviceName);
  void setPin(std::string pin);
  void setWelcome(WelcomeMessage welcome);
  void broadcastError(std::string code, std::string message);
  void submit(CapturedFrame frame);
  // Forget the latest frame: requests wait for the next one.
  void clearLatest();

 private:
  explicit StreamHub(Dependencies dependencies);

  template <typename Work>
  void postToQueue(Work work);

  // Listener (stream_hub.cc).
  void startListener(std::optional<uint16_t> port);
  void listenerReady(std::optional<uint16_t> port);
  void listenerFailed(std::optional<uint16_t> requestedPort, const std::string& description);

  // Sessions (stream_hub_sessions.cc).
  void accept(std::shared_ptr<ByteStream> stream);
  void makeRoomFor(const PeerAddress& peer);
  void reportClientNames();
  void scheduleFailureReport();
  void reportAuthFailures();
  template <typename Message>
  void sendToAuthed(MessageType type, const Message& message);
  std::vector<std::shared_ptr<ClientSession>> sessions() const;

  // ClientSession::Owner.
  bool pinMatches(const std::string& pin) const override;
  const HubEvents& events() const override { return events_; }
  void authenticated(const std::shared_ptr<ClientSession>& session) override;
  void authFailed(const ClientSession& session) override;
  void requested(const std::shared_ptr<ClientSession>& session) override { fanout_->trySend(session); }
  void closed(const ClientSession& session, const std::optional<std::error_code>& error) override;

  Executor& queue_;
  ListenerFactory& listeners_;
  ServiceAdvertiser& advertiser_;
  DesktopInput& input_;
  const uint16_t preferredPort_;
  const std::shared_ptr<FrameFanout> fanout_;

  Events events_;
  std::unique_ptr<Listener> listener_;
  // Handlers of an earlier listener that fire late are recognised and dropped.
  uint64_t listenerGeneration_ = 0;
  DelayedWork listenerRetry_;
  std::map<ClientSession::ID, std::shared_ptr<ClientSession>> sessions_;  // in order of acceptance
  ClientSession::ID nextSessionID_ = 1;
  std::optional<WelcomeMessage> welcome_;
  std::string pin_;
  std::string serviceName_ = "Mac";

  AuthThrottle throttle_;
  AuthFailures authFailures_;
  uint64_t authFailuresLogged_ = 0;
  std::optional<TimePoint> lastFailureLog_;
  bool failureReportPending_ = false;
  DelayedWork failureReport_;
};

}  // namespace vistaro
