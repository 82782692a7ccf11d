#include "server/message_type.h"

#include <array>

namespace vistaro {

namespace {

// Indexed by code - 1; code 9 has no case.
constexpr std::array<std::optional<MessageType>, 13> kByCode = {
    MessageType::hello,   MessageType::request,       MessageType::selectDisplay, MessageType::input,
    MessageType::key,     MessageType::setHeadless,   MessageType::clientDisplay, MessageType::setFit,
    std::nullopt,         MessageType::welcome,       MessageType::frame,         MessageType::error,
    MessageType::focus,
};

}  // namespace

std::optional<MessageType> messageTypeFromCode(uint8_t code) {
  if (code == 0 || code > kByCode.size()) return std::nullopt;
  return kByCode[code - 1];
}

}  // namespace vistaro
