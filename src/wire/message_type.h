#pragma once

#include <cstdint>
#include <optional>

namespace vistaro {

// Wire codes of the typed messages. Code 9 is unassigned.
enum class MessageType : uint8_t {
  hello = 1,
  request = 2,
  selectDisplay = 3,
  input = 4,
  key = 5,
  setHeadless = 6,
  clientDisplay = 7,
  setFit = 8,
  welcome = 10,
  frame = 11,
  error = 12,
  focus = 13,
};

// Absent for 0, 9 and every code above 13.
std::optional<MessageType> messageTypeFromCode(uint8_t code);

inline uint8_t wireCode(MessageType type) { return static_cast<uint8_t>(type); }

// The case name as written on the wire docs and in logs: "hello", "selectDisplay", ...
const char* messageTypeName(MessageType type);

}  // namespace vistaro
