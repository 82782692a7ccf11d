#pragma once

#include <cstdint>
#include <string>

namespace vistaro {

// A platform display number; 0 stands for "none".
using DisplayID = uint32_t;

// One capturable display, as listed by the capturer and sent to clients.
struct DisplayInfo {
  DisplayID id = 0;
  std::string name;
  int64_t width = 0;
  int64_t height = 0;
  bool operator==(const DisplayInfo&) const = default;
};

}  // namespace vistaro
