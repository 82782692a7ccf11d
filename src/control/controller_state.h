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
  std::vector<std::string> clientNames;
  std::vector<DisplayInfo> displays;
  DisplayID selectedDisplayID = 0;
  bool hasPermission = false;
  bool hasInputPermission = false;
  std::string listenerStatus;
  std::optional<uint16_t> port;
  bool capturing = false;
  std::optional<std::string> lastError;
  bool powerSaving = false;
  bool fitting = false;

  bool operator==(const ControllerState&) const = default;
};

}  // namespace vistaro
