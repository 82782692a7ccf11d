#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/display_info.h"
#include "wire/byte_stream.h"

namespace vistaro {

// Client -> host.
struct HelloMessage {
  std::string pin;
  std::string name;
  int64_t version = 0;
  std::optional<std::vector<std::string>> features;
  bool operator==(const HelloMessage&) const = default;
};

struct RequestMessage {
  std::optional<std::vector<double>> viewport;  // [x, y, w, h] in fractions; any length on the wire
  int64_t detailMaxW = 0;
  int64_t detailMaxH = 0;
  int64_t baseMaxW = 0;
  std::optional<bool> full;
  bool operator==(const RequestMessage&) const = default;
};

struct SelectDisplayMessage {
  DisplayID id = 0;
  bool operator==(const SelectDisplayMessage&) const = default;
};

struct InputMessage {
  enum class Kind { click, rightClick, scroll };
  Kind kind = Kind::click;
  double x = 0;
  double y = 0;
  int64_t clickCount = 1;
  DisplayID displayID = 0;
  std::optional<int64_t> scrollX;
  std::optional<int64_t> scrollY;
  std::optional<bool> scrollBegan;
  bool operator==(const InputMessage&) const = default;
};

struct KeyMessage {
  std::optional<std::string> text;
  std::optional<int64_t> backspaces;
  std::optional<std::string> key;
  std::vector<std::string> modifiers;
  bool operator==(const KeyMessage&) const = default;
};

// Body of both setHeadless and setFit.
struct HeadlessMessage {
  bool enabled = false;
  bool operator==(const HeadlessMessage&) const = default;
};

struct ClientDisplayMessage {
  int64_t pixelW = 0;
  int64_t pixelH = 0;
  std::string textSize;
  bool fillWindow = false;
  bool operator==(const ClientDisplayMessage&) const = default;
};

// Host -> client.
struct WelcomeMessage {
  std::string hostName;
  std::vector<DisplayInfo> displays;
  DisplayID current = 0;
  std::optional<bool> headless;
  std::optional<bool> fit;
  std::optional<std::string> relayRoom;
  std::optional<std::string> directID;
  bool operator==(const WelcomeMessage&) const = default;
};

struct ErrorMessage {
  std::string code;
  std::string message;
  bool operator==(const ErrorMessage&) const = default;
};

struct FocusMessage {
  bool editable = false;
  bool operator==(const FocusMessage&) const = default;
};

struct PatchInfo {
  int64_t x = 0;
  int64_t y = 0;
  int64_t w = 0;
  int64_t h = 0;
  int64_t len = 0;
  bool operator==(const PatchInfo&) const = default;
};

struct FrameHeader {
  uint64_t seq = 0;
  DisplayID displayID = 0;
  int64_t screenW = 0;
  int64_t screenH = 0;
  double pointScale = 1;
  int64_t baseLen = 0;
  int64_t detailLen = 0;
  std::optional<std::array<double, 4>> detailRect;
  std::optional<std::vector<PatchInfo>> basePatches;
  std::optional<std::vector<PatchInfo>> detailPatches;
  std::optional<bool> partial;
  bool operator==(const FrameHeader&) const = default;
};

// JSON bodies. Encoding fails (absent) on a non-finite number; decoding fails
// on a missing required field, a wrong JSON type or an out-of-range value, and
// ignores unknown keys. Optional fields are never written as null but are
// accepted as null or missing.
template <typename Message>
std::optional<Bytes> encodeMessage(const Message& message);
template <typename Message>
std::optional<Message> decodeMessage(const Bytes& body);

}  // namespace vistaro
