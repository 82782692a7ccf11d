#pragma once

#include <string>

#include "wire/message_type.h"
#include "wire/messages.h"

namespace vistaro::client {

// One line per host message, for people and scripts: the type name, then the
// body as compact JSON ("frame" bodies are binary: their size only).
std::string describeWelcome(const WelcomeMessage& message);
std::string describeError(const ErrorMessage& message);
std::string describeFocus(const FocusMessage& message);
std::string describeFrame(const Bytes& body);
std::string describeUnexpected(MessageType type, const Bytes& body);

}  // namespace vistaro::client
