#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/executor.h"
#include "core/geometry.h"
#include "server/auth_throttle.h"
#include "server/frame_plan.h"
#include "server/frame_job.h"
#include "server/framed_connection.h"
#include "server/hub_input.h"
#include "server/layer_encoder.h"
#include "server/listener.h"
#include "server/messages.h"
#include "server/service_advertiser.h"

namespace vistaro {

// The host's server: one listener advertised by DNS-SD, one Client per
// connection, the PIN handshake and the dispatch of client messages. Every
// field lives on `queue`; the controller's operations only post there.
class StreamHub : public std::enable_shared_from_this<StreamHub> {
 public:
  static constexpr uint16_t kPreferredPort = 52525;
  static constexpr Duration kListenerRetryDelay = std::chrono::seconds(3);
  static constexpr Duration kAuthDeadline = std::chrono::seconds(10);
  static constexpr Duration kPinErrorDelay = std::chrono::seconds(1);
  // Before its hello is accepted a client may send nothing longer than a generous hello.
  static constexpr uint32_t kMaxUnauthenticatedLength = 64 * 1024;
  // Connections not yet authenticated, per source and in all; beyond, the oldest goes.
  static constexpr size_t kMaxPendingPerSource = 8;
  static constexpr size_t kMaxPending = 256;
  // Failed PIN attempts reach the controller at most this often.
  static constexpr Duration kFailureReportInterval = std::chrono::seconds(1);
  static constexpr Duration kFailureLogInterval = std::chrono::seconds(10);

  // Failed PIN attempts since the host started, for the user.
  struct AuthFailures {
    uint64_t count = 0;
    std::string lastAddress;
    size_t heldSources = 0;
    bool operator==(const AuthFailures&) const = default;
  };

  using ClientID = uint64_t;

  struct Client {
    ClientID id = 0;
    std::shared_ptr<FramedConnection> conn;
    PeerAddress peer;
    std::string name = "iPhone";
    bool authed = false;
    std::optional<RequestMessage> pending;
    int credits = 0;
    bool busy = false;
    bool patches = false;
    LayerRecord base;
    LayerRecord detail;
    int64_t clickSeq = 0;
    // The connection is already doomed by a wrong PIN; more wrong PINs add no timers.
    bool pinErrorScheduled = false;
  };

  struct Dependencies {
    Executor& queue;        // "velmora.hub"
    Executor& encodeQueue;  // "velmora.encode"
    LayerEncoder& encoder;  // used on encodeQueue only
    Executor& mainQueue;    // where key injection runs
    ListenerFactory& listeners;
    ServiceAdvertiser& advertiser;
    HubInput input;
    uint16_t preferredPort = kPreferredPort;
  };

  static std::shared_ptr<StreamHub> create(Dependencies dependencies);
  StreamHub(const StreamHub&) = delete;
  StreamHub& operator=(const StreamHub&) = delete;

  // Set once, before start(); all are called on the hub queue.
  std::function<void(std::vector<std::string> names)> onClientsChanged;
  std::function<void(DisplayID)> onSelectDisplay;
  std::function<void()> onInputPermissionMissing;
  std::function<void(bool enabled)> onSetHeadless;
  std::function<void(bool enabled)> onSetFit;
  std::function<void(const ClientDisplayMessage&)> onClientDisplay;
  std::function<void(std::string status, std::optional<uint16_t> port)> onListenerState;
  std::function<void(const AuthFailures&)> onAuthFailures;

  // Controller operations: each posts its work to the hub queue and returns.
  void start(std::string serviceName);
  void setPin(std::string pin);
  void setWelcome(WelcomeMessage welcome);
  void broadcastError(std::string code, std::string message);
  // A captured frame with its changes (absent: unknown, everything counts as changed).
  void submit(SharedPixels buffer, DisplayID display, double pointScale, std::optional<std::vector<Rect>> changes);
  // Forget the latest frame: requests wait for the next one.
  void clearLatest();

  Executor& queue() const { return queue_; }
  Executor& encodeQueue() const { return encodeQueue_; }
  // Every open connection; read on the hub queue only.
  const std::map<ClientID, std::shared_ptr<Client>>& clientRecords() const { return clients_; }

 private:
  explicit StreamHub(Dependencies dependencies);

  template <typename Work>
  void postToQueue(Work work);

  // Listener (stream_hub.cc).
  void startListener(std::optional<uint16_t> port);
  void listenerReady(std::optional<uint16_t> port);
  void listenerFailed(std::optional<uint16_t> requestedPort, const std::string& description);

  // Connections and dispatch (stream_hub_clients.cc).
  void accept(std::shared_ptr<ByteStream> stream);
  void makeRoomFor(const PeerAddress& peer);
  void disconnected(ClientID id, const std::optional<std::error_code>& error);
  void authFailed(const Client& client);
  void scheduleFailureReport();
  void reportAuthFailures();
  void dispatch(const std::shared_ptr<Client>& client, MessageType type, const Bytes& body);
  void handshake(const std::shared_ptr<Client>& client, const Bytes& body);
  void schedulePinError(const std::shared_ptr<Client>& client);
  void handleRequest(const std::shared_ptr<Client>& client, RequestMessage request);
  void handlePointerInput(const std::shared_ptr<Client>& client, const InputMessage& message);
  void handleKey(Client& client, const KeyMessage& message);
  void refuseInput(Client& client);
  void refuseKeys(ClientID id);
  void reportClientNames();

  // Frames (stream_hub_frames.cc).
  void sendFrame(const std::shared_ptr<Client>& client);
  void frameEncoded(const std::shared_ptr<Client>& client, EncodedFrame frame);

  template <typename Message>
  static void sendMessage(Client& client, MessageType type, const Message& message);
  template <typename Message>
  void sendToAuthed(MessageType type, const Message& message);

  Executor& queue_;
  Executor& encodeQueue_;
  LayerEncoder& encoder_;
  Executor& mainQueue_;
  ListenerFactory& listeners_;
  ServiceAdvertiser& advertiser_;
  const HubInput input_;
  const uint16_t preferredPort_;

  std::unique_ptr<Listener> listener_;
  // Handlers of an earlier listener that fire late are recognised and dropped.
  uint64_t listenerGeneration_ = 0;
  DelayedWork listenerRetry_;
  std::map<ClientID, std::shared_ptr<Client>> clients_;
  ClientID nextClientID_ = 1;
  std::optional<WelcomeMessage> welcome_;
  std::string pin_;
  std::string serviceName_ = "Mac";
  std::optional<LatestFrame> latest_;
  uint64_t seq_ = 0;
  AuthThrottle throttle_;
  AuthFailures authFailures_;
  uint64_t authFailuresLogged_ = 0;
  std::optional<TimePoint> lastFailureLog_;
  bool failureReportPending_ = false;
  DelayedWork failureReport_;
};

}  // namespace vistaro
