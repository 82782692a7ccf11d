#include "wire/message_type.h"

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

const char* messageTypeName(MessageType type) {
  switch (type) {
    case MessageType::hello: return "hello";
    case MessageType::request: return "request";
    case MessageType::selectDisplay: return "selectDisplay";
    case MessageType::input: return "input";
    case MessageType::key: return "key";
    case MessageType::setHeadless: return "setHeadless";
    case MessageType::clientDisplay: return "clientDisplay";
    case MessageType::setFit: return "setFit";
    case MessageType::welcome: return "welcome";
    case MessageType::frame: return "frame";
    case MessageType::error: return "error";
    case MessageType::focus: return "focus";
  }
  return "unknown";
}

std::optional<MessageType> messageTypeFromCode(uint8_t code) {
  if (code == 0 || code > kByCode.size()) return std::nullopt;
  return kByCode[code - 1];
}

}  // namespace vistaro
