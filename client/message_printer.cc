#include "client/message_printer.h"

#include "wire/message_type.h"

namespace vistaro::client {

namespace {

// Re-encoded rather than echoed, so a body with line breaks still prints as one line.
template <typename Message>
std::string describe(MessageType type, const Message& message) {
  const std::optional<Bytes> json = encodeMessage(message);
  return std::string(messageTypeName(type)) + " " + (json ? std::string(json->begin(), json->end()) : "{}");
}

}  // namespace

std::string describeWelcome(const WelcomeMessage& message) { return describe(MessageType::welcome, message); }
std::string describeError(const ErrorMessage& message) { return describe(MessageType::error, message); }
std::string describeFocus(const FocusMessage& message) { return describe(MessageType::focus, message); }

std::string describeFrame(const Bytes& body) { return "frame " + std::to_string(body.size()) + " bytes"; }

std::string describeUnexpected(MessageType type, const Bytes& body) {
  return std::string("unexpected ") + messageTypeName(type) + " " + std::to_string(body.size()) + " bytes";
}

}  // namespace vistaro::client
