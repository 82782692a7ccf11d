#include "wire/messages.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <tuple>
#include <type_traits>

namespace vistaro {

namespace {

using Json = nlohmann::json;

// One JSON key bound to one member; a std::optional member is an optional key.
template <typename Message, typename Value>
struct Field {
  const char* key;
  Value Message::*member;
};

template <typename Message, typename Value>
constexpr Field<Message, Value> field(const char* key, Value Message::*member) {
  return {key, member};
}

template <typename Message>
struct Schema;

template <>
struct Schema<HelloMessage> {
  using M = HelloMessage;
  static constexpr auto fields = std::tuple{field("pin", &M::pin), field("name", &M::name),
                                            field("version", &M::version), field("features", &M::features)};
};

template <>
struct Schema<RequestMessage> {
  using M = RequestMessage;
  static constexpr auto fields =
      std::tuple{field("viewport", &M::viewport), field("detailMaxW", &M::detailMaxW),
                 field("detailMaxH", &M::detailMaxH), field("baseMaxW", &M::baseMaxW), field("full", &M::full)};
};

template <>
struct Schema<SelectDisplayMessage> {
  static constexpr auto fields = std::tuple{field("id", &SelectDisplayMessage::id)};
};

template <>
struct Schema<InputMessage> {
  using M = InputMessage;
  static constexpr auto fields =
      std::tuple{field("kind", &M::kind),           field("x", &M::x),
                 field("y", &M::y),                 field("clickCount", &M::clickCount),
                 field("displayID", &M::displayID), field("scrollX", &M::scrollX),
                 field("scrollY", &M::scrollY),     field("scrollBegan", &M::scrollBegan)};
};

template <>
struct Schema<KeyMessage> {
  using M = KeyMessage;
  static constexpr auto fields = std::tuple{field("text", &M::text), field("backspaces", &M::backspaces),
                                            field("key", &M::key), field("modifiers", &M::modifiers)};
};

template <>
struct Schema<HeadlessMessage> {
  static constexpr auto fields = std::tuple{field("enabled", &HeadlessMessage::enabled)};
};

template <>
struct Schema<ClientDisplayMessage> {
  using M = ClientDisplayMessage;
  static constexpr auto fields = std::tuple{field("pixelW", &M::pixelW), field("pixelH", &M::pixelH),
                                            field("textSize", &M::textSize), field("fillWindow", &M::fillWindow)};
};

template <>
struct Schema<DisplayInfo> {
  using M = DisplayInfo;
  static constexpr auto fields = std::tuple{field("id", &M::id), field("name", &M::name),
                                            field("width", &M::width), field("height", &M::height)};
};

template <>
struct Schema<WelcomeMessage> {
  using M = WelcomeMessage;
  static constexpr auto fields =
      std::tuple{field("hostName", &M::hostName), field("displays", &M::displays), field("current", &M::current),
                 field("headless", &M::headless), field("fit", &M::fit),           field("relayRoom", &M::relayRoom),
                 field("directID", &M::directID)};
};

template <>
struct Schema<ErrorMessage> {
  static constexpr auto fields =
      std::tuple{field("code", &ErrorMessage::code), field("message", &ErrorMessage::message)};
};

template <>
struct Schema<FocusMessage> {
  static constexpr auto fields = std::tuple{field("editable", &FocusMessage::editable)};
};

template <>
struct Schema<PatchInfo> {
  using M = PatchInfo;
  static constexpr auto fields = std::tuple{field("x", &M::x), field("y", &M::y), field("w", &M::w),
                                            field("h", &M::h), field("len", &M::len)};
};

template <>
struct Schema<FrameHeader> {
  using M = FrameHeader;
  static constexpr auto fields =
      std::tuple{field("seq", &M::seq),
                 field("displayID", &M::displayID),
                 field("screenW", &M::screenW),
                 field("screenH", &M::screenH),
                 field("pointScale", &M::pointScale),
                 field("baseLen", &M::baseLen),
                 field("detailLen", &M::detailLen),
                 field("detailRect", &M::detailRect),
                 field("basePatches", &M::basePatches),
                 field("detailPatches", &M::detailPatches),
                 field("partial", &M::partial)};
};

template <typename T>
concept Structured = requires { Schema<T>::fields; };

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename T>
struct IsSequence : std::false_type {};
template <typename T>
struct IsSequence<std::vector<T>> : std::true_type {};
template <typename T, size_t N>
struct IsSequence<std::array<T, N>> : std::true_type {};

constexpr std::array<const char*, 3> kKindNames = {"click", "rightClick", "scroll"};

// ---- Reading: every overload returns false on a wrong JSON type or range.

// Integers may arrive as 3 or 3.0; either way the value must be integral and in range.
template <typename Integer>
bool readInteger(const Json& json, Integer& out) {
  constexpr auto lowest = std::numeric_limits<Integer>::lowest();
  constexpr auto highest = std::numeric_limits<Integer>::max();
  if (json.is_number_unsigned()) {
    const auto value = json.get<uint64_t>();
    if (value > static_cast<uint64_t>(highest)) return false;
    out = static_cast<Integer>(value);
    return true;
  }
  if (json.is_number_integer()) {
    const auto value = json.get<int64_t>();
    if (value < static_cast<int64_t>(lowest)) return false;
    if (value > 0 && static_cast<uint64_t>(value) > static_cast<uint64_t>(highest)) return false;
    out = static_cast<Integer>(value);
    return true;
  }
  if (json.is_number_float()) {
    const double value = json.get<double>();
    // 2^64 and 2^63 are exact doubles, so the upper bounds are exclusive.
    const double upper = static_cast<double>(highest / 2 + 1) * 2.0;
    if (!std::isfinite(value) || value != std::trunc(value)) return false;
    if (value < static_cast<double>(lowest) || value >= upper) return false;
    out = static_cast<Integer>(value);
    return true;
  }
  return false;
}

bool read(const Json& json, int64_t& out) { return readInteger(json, out); }
bool read(const Json& json, uint64_t& out) { return readInteger(json, out); }
bool read(const Json& json, uint32_t& out) { return readInteger(json, out); }

bool read(const Json& json, double& out) {
  if (!json.is_number()) return false;
  out = json.get<double>();
  return true;
}

bool read(const Json& json, bool& out) {
  if (!json.is_boolean()) return false;
  out = json.get<bool>();
  return true;
}

bool read(const Json& json, std::string& out) {
  if (!json.is_string()) return false;
  out = json.get_ref<const std::string&>();
  return true;
}

bool read(const Json& json, InputMessage::Kind& out) {
  if (!json.is_string()) return false;
  const auto& name = json.get_ref<const std::string&>();
  for (size_t i = 0; i < kKindNames.size(); ++i) {
    if (name == kKindNames[i]) {
      out = static_cast<InputMessage::Kind>(i);
      return true;
    }
  }
  return false;
}

template <Structured T>
bool read(const Json& json, T& out);

template <typename T>
bool read(const Json& json, std::vector<T>& out) {
  if (!json.is_array()) return false;
  out.clear();
  out.reserve(json.size());
  for (const Json& element : json) {
    if (!read(element, out.emplace_back())) return false;
  }
  return true;
}

template <typename T, size_t N>
bool read(const Json& json, std::array<T, N>& out) {
  if (!json.is_array() || json.size() != N) return false;
  for (size_t i = 0; i < N; ++i) {
    if (!read(json[i], out[i])) return false;
  }
  return true;
}

template <typename Value>
bool readMember(const Json& object, const char* key, Value& out) {
  const auto found = object.find(key);
  if constexpr (IsOptional<Value>::value) {
    if (found == object.end() || found->is_null()) {
      out.reset();
      return true;
    }
    return read(*found, out.emplace());
  } else {
    return found != object.end() && read(*found, out);
  }
}

template <Structured T>
bool read(const Json& json, T& out) {
  if (!json.is_object()) return false;
  return std::apply([&](const auto&... f) { return (readMember(json, f.key, out.*(f.member)) && ...); },
                    Schema<T>::fields);
}

// ---- Writing: false only for a value that JSON cannot carry (a non-finite number).

template <typename Scalar>
bool write(Json& json, const Scalar& value) {
  json = value;
  return true;
}

bool write(Json& json, double value) {
  if (!std::isfinite(value)) return false;
  json = value;
  return true;
}

bool write(Json& json, InputMessage::Kind kind) {
  const auto index = static_cast<size_t>(kind);
  if (index >= kKindNames.size()) return false;
  json = kKindNames[index];
  return true;
}

template <Structured T>
bool write(Json& json, const T& value);

template <typename T>
  requires IsSequence<T>::value
bool write(Json& json, const T& values) {
  json = Json::array();
  for (const auto& value : values) {
    if (!write(json.emplace_back(), value)) return false;
  }
  return true;
}

template <typename Value>
bool writeMember(Json& object, const char* key, const Value& value) {
  if constexpr (IsOptional<Value>::value) {
    return !value || write(object[key], *value);
  } else {
    return write(object[key], value);
  }
}

template <Structured T>
bool write(Json& json, const T& value) {
  json = Json::object();
  return std::apply([&](const auto&... f) { return (writeMember(json, f.key, value.*(f.member)) && ...); },
                    Schema<T>::fields);
}

}  // namespace

template <typename Message>
std::optional<Bytes> encodeMessage(const Message& message) {
  Json json;
  if (!write(json, message)) return std::nullopt;
  // Strings are not checked for UTF-8 on the way in; replace bad sequences rather than fail the message.
  const std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
  return Bytes(text.begin(), text.end());
}

template <typename Message>
std::optional<Message> decodeMessage(const Bytes& body) {
  // No exceptions: malformed JSON, including bad UTF-8, is a failed parse.
  const Json json = Json::parse(body.begin(), body.end(), nullptr, false);
  if (json.is_discarded()) return std::nullopt;
  Message message;
  if (!read(json, message)) return std::nullopt;
  return message;
}

#define VISTARO_MESSAGE_CODEC(Message)                                     \
  template std::optional<Bytes> encodeMessage<Message>(const Message&); \
  template std::optional<Message> decodeMessage<Message>(const Bytes&);

VISTARO_MESSAGE_CODEC(HelloMessage)
VISTARO_MESSAGE_CODEC(RequestMessage)
VISTARO_MESSAGE_CODEC(SelectDisplayMessage)
VISTARO_MESSAGE_CODEC(InputMessage)
VISTARO_MESSAGE_CODEC(KeyMessage)
VISTARO_MESSAGE_CODEC(HeadlessMessage)
VISTARO_MESSAGE_CODEC(ClientDisplayMessage)
VISTARO_MESSAGE_CODEC(DisplayInfo)
VISTARO_MESSAGE_CODEC(WelcomeMessage)
VISTARO_MESSAGE_CODEC(ErrorMessage)
VISTARO_MESSAGE_CODEC(FocusMessage)
VISTARO_MESSAGE_CODEC(PatchInfo)
VISTARO_MESSAGE_CODEC(FrameHeader)

#undef VISTARO_MESSAGE_CODEC

}  // namespace vistaro
