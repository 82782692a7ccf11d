#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/display_info.h"

namespace vistaro {

// What the controller publishes for the panel and the console.
struct ControllerState {
  std::string pin;
  std::vector<std::string> clientNames;  // as they may be shown: see displayableText
  std::vector<DisplayInfo> displays;
  DisplayID selectedDisplayID = 0;
  bool hasPermission = false;
  bool hasInputPermission = false;
  std::string listenerStatus;
  std::string directStatus;  // the path from outside the LAN
  std::optional<uint16_t> port;
  bool capturing = false;
  std::optional<std::string> lastError;
  // Failed PIN attempts since start: someone may be guessing; a new PIN ends it.
  uint64_t failedPinAttempts = 0;
  std::string failedPinAddress;  // the latest one's
  bool powerSaving = false;
  bool fitting = false;
  bool fitStarting = false;  // the desktop is being switched to the client's size

  bool operator==(const ControllerState&) const = default;
};

}  // namespace vistaro
