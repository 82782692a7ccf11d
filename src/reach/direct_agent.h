#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/asio_executor.h"
#include "reach/connection_pipe.h"
#include "reach/knock_poller.h"
#include "reach/record_store.h"
#include "reach/stun_client.h"
#include "reach/quic/quic_listener.h"
#include "server/relayed_peers.h"

namespace vistaro {

// Makes the host reachable from elsewhere: a QUIC listener on UDP 52526 (any port when that is
// taken) whose every client stream is piped to the local listener on 127.0.0.1, where the
// ordinary client protocol, its TLS included, runs end to end. A listener that fails is
// started again after 2 s, doubling to 60 s. With a record store it also answers a client's knock:
// it learns its public endpoints by STUN from the listener's socket, punches towards the client's
// endpoints from there, and writes them into the answer. State lives on `queue`.
class DirectAgent : public std::enable_shared_from_this<DirectAgent> {
 public:
  static constexpr uint16_t kPreferredPort = 52526;
  static constexpr uint16_t kDefaultLocalPort = 52525;
  static constexpr std::chrono::milliseconds kIdleTimeout{30000};
  static constexpr std::chrono::milliseconds kKeepAlive{10000};
  static constexpr Duration kFirstRetryDelay = std::chrono::seconds(2);
  static constexpr Duration kLongestRetryDelay = std::chrono::seconds(60);

  struct Dependencies {
    AsioExecutor& queue;  // "velmora.direct"
    Executor& main;       // where onStatus runs
    // The identity's files go here; a PKCS #12 file named in the settings is used instead.
    std::filesystem::path identityDirectory;
    std::optional<std::filesystem::path> identityFile;
    // Where the hub learns whom a piped connection is for; none: they all come from loopback.
    RelayedPeers* relayedPeers = nullptr;
    uint16_t preferredPort = kPreferredPort;
    std::chrono::milliseconds idleTimeout = kIdleTimeout;
    // The rendezvous, when there is a store: its calls run on `records`.
    Executor* records = nullptr;
    std::shared_ptr<RecordStore> store;
    std::vector<std::string> stunServers = defaultStunServers();
  };

  static std::shared_ptr<DirectAgent> create(std::string id, Dependencies dependencies);

  // Set before start(); runs on the main executor.
  std::function<void(std::string text)> onStatus;

  void start();
  // From any thread: the local listener's port, for the streams piped from now on.
  void setLocalPort(uint16_t port);

  const std::string& id() const { return id_; }
  // On the queue: the listener's UDP port (the preferred one until a listener is ready).
  uint16_t port() const { return port_; }
  size_t pipeCount() const { return pipes_.size(); }

 private:
  DirectAgent(std::string id, Dependencies dependencies);
  template <typename Work>
  void onQueue(Work work);
  std::shared_ptr<const DirectIdentity> loadIdentity();
  void startListener(bool preferFixedPort);
  void listenerReady();
  void listenerFailed();
  void acceptConnection(std::shared_ptr<ByteStream> incoming);
  void postStatus(const char* text);
  void accountChecked(bool available, const std::string& problem);
  void handleKnock(const std::string& nonce, const std::string& client, KnockPoller::Answer answer);
  void addressesLearned(const std::string& client, std::optional<std::string> v6, std::optional<std::string> v4,
                        KnockPoller::Answer answer);

  const std::string id_;
  AsioExecutor& queue_;
  Executor& main_;
  const std::filesystem::path identityDirectory_;
  const std::optional<std::filesystem::path> identityFile_;
  RelayedPeers* const relayedPeers_;
  const uint16_t preferredPort_;
  const quic::ConnectionOptions quicOptions_;
  const std::shared_ptr<RecordStore> store_;
  const std::vector<std::string> stunServers_;
  std::shared_ptr<KnockPoller> poller_;
  std::shared_ptr<StunClient> stun_;
  Executor* const records_;

  std::shared_ptr<quic::QuicListener> listener_;
  // Handlers of an earlier listener that fire late are recognised and dropped.
  uint64_t listenerGeneration_ = 0;
  uint16_t port_;
  uint16_t localPort_ = kDefaultLocalPort;
  std::map<ConnectionPipe*, std::shared_ptr<ConnectionPipe>> pipes_;
  Duration listenerRetryDelay_ = kFirstRetryDelay;
  DelayedWork listenerRetry_;
  bool listenerDown_ = false;
  std::optional<bool> accountAvailable_;
};

}  // namespace vistaro
