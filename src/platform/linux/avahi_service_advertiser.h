#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "server/service_advertiser.h"

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;
struct AvahiTimeout;
struct AvahiWatch;

namespace vistaro {

// Publishes the service through the Avahi daemon. Avahi runs on its own
// thread: its D-Bus calls block, and the caller's queue must never wait for
// them. A missing daemon or bus is reported once per outage and retried; the
// service reappears when the daemon does (including after a daemon restart).
class AvahiServiceAdvertiser final : public ServiceAdvertiser {
 public:
  static constexpr std::chrono::milliseconds kBusRetryDelay{5000};

  // onUnavailable is called once each time discovery goes away, on the Avahi
  // thread (the first time possibly from inside this constructor). Without a
  // system bus, connecting is retried after busRetryDelay.
  explicit AvahiServiceAdvertiser(std::function<void(const std::string& reason)> onUnavailable = {},
                                  std::chrono::milliseconds busRetryDelay = kBusRetryDelay);
  ~AvahiServiceAdvertiser() override;
  AvahiServiceAdvertiser(const AvahiServiceAdvertiser&) = delete;
  AvahiServiceAdvertiser& operator=(const AvahiServiceAdvertiser&) = delete;

  void advertise(const std::string& name, uint16_t port) override;
  void withdraw() override;

 private:
  struct Service {
    std::string name;
    uint16_t port = 0;
    bool operator==(const Service&) const = default;
  };

  // Hands the wish to the Avahi thread without waiting for it.
  void setWanted(std::optional<Service> wanted);

  // Everything below runs on the Avahi thread with its lock held.
  void clientStateChanged(AvahiClient* client, int state);
  void groupStateChanged(int state);
  void connect();
  void dropClient();
  void scheduleReconnect(std::chrono::milliseconds delay);
  void applyWanted();
  void publish();
  void rename();
  void reportUnavailable(const std::string& reason);

  std::function<void(const std::string&)> onUnavailable_;
  const std::chrono::milliseconds busRetryDelay_;
  AvahiThreadedPoll* poll_ = nullptr;
  int wakeFd_ = -1;
  AvahiWatch* wakeWatch_ = nullptr;
  AvahiTimeout* retryTimer_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  bool running_ = false;
  bool unavailableReported_ = false;
  std::optional<Service> applied_;  // the last wanted service the Avahi thread has taken on
  std::string nameInUse_;           // its name, or Avahi's alternative after a collision

  // Handed over from the caller's thread; the eventfd wakes the Avahi thread.
  std::mutex wantedMutex_;
  std::optional<Service> wanted_;
};

}  // namespace vistaro
