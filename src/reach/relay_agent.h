#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "core/executor.h"
#include "core/lifetime_guard.h"

namespace vistaro {

// Meets clients in a room of a relay server. The relay path is dormant in this host: the agent
// is created and kept informed of the local listener's port, but never started, so it opens no
// connection and never reports.
class RelayAgent {
 public:
  static constexpr uint16_t kDefaultLocalPort = 52525;
  static constexpr std::chrono::duration<double> kFirstRetryDelay{2.0};

  // `queue` is "velmora.relay"; the agent is dropped there or after it has stopped.
  RelayAgent(Executor& queue, std::string room) : queue_(queue), room_(std::move(room)) {}

  const std::string& room() const { return room_; }
  // From any thread; stored on the queue, in order.
  void setLocalPort(uint16_t port);
  // On the queue.
  uint16_t localPort() const { return localPort_; }
  bool running() const { return running_; }
  std::chrono::duration<double> retryDelay() const { return retryDelay_; }

  std::function<void(std::string)> onStatus;

 private:
  Executor& queue_;
  const std::string room_;
  bool running_ = false;
  std::chrono::duration<double> retryDelay_ = kFirstRetryDelay;
  uint16_t localPort_ = kDefaultLocalPort;
  LifetimeGuard guard_;
};

}  // namespace vistaro
