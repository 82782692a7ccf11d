#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "control/hub_port.h"
#include "server/stream_hub.h"

namespace vistaro {

// The controller's view of the real hub: the composition root joins the two.
class StreamHubPort final : public HubPort {
 public:
  // `onListening` hears each port the hub's listener is ready on, on the hub queue, before the
  // controller does.
  explicit StreamHubPort(std::shared_ptr<StreamHub> hub, std::function<void(uint16_t port)> onListening = {})
      : hub_(std::move(hub)), onListening_(std::move(onListening)) {}

  void setCallbacks(Callbacks callbacks) override;
  void start(std::string serviceName) override { hub_->start(std::move(serviceName)); }
  void setPin(std::string pin) override { hub_->setPin(std::move(pin)); }
  void setWelcome(WelcomeMessage welcome) override { hub_->setWelcome(std::move(welcome)); }
  void broadcastError(std::string code, std::string message) override {
    hub_->broadcastError(std::move(code), std::move(message));
  }
  void submit(CapturedFrame frame) override { hub_->submit(std::move(frame)); }
  void clearLatest() override { hub_->clearLatest(); }

 private:
  std::shared_ptr<StreamHub> hub_;
  std::function<void(uint16_t port)> onListening_;
};

}  // namespace vistaro
