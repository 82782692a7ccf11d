#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/captured_frame.h"
#include "core/display_info.h"
#include "wire/messages.h"

namespace vistaro {

// The stream hub as the controller drives it. Operations return at once;
// callbacks arrive on the hub's queue.
class HubPort {
 public:
  struct Callbacks {
    std::function<void(std::vector<std::string> names)> clientsChanged;
    std::function<void(DisplayID)> selectDisplay;
    std::function<void()> inputPermissionMissing;
    std::function<void(std::string status, std::optional<uint16_t> port)> listenerState;
    std::function<void(uint64_t count, std::string lastAddress)> authFailures;
    std::function<void(bool on)> setHeadless;
    std::function<void(bool on)> setFit;
    std::function<void(const ClientDisplayMessage&)> clientDisplay;
  };

  virtual ~HubPort() = default;
  // Once, before start().
  virtual void setCallbacks(Callbacks callbacks) = 0;
  virtual void start(std::string serviceName) = 0;
  virtual void setPin(std::string pin) = 0;
  virtual void setWelcome(WelcomeMessage welcome) = 0;
  virtual void broadcastError(std::string code, std::string message) = 0;
  // From the capture queue: a frame that changed.
  virtual void submit(CapturedFrame frame) = 0;
  virtual void clearLatest() = 0;
};

}  // namespace vistaro
