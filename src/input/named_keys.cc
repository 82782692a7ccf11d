#include "input/named_keys.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <array>
#include <utility>

namespace vistaro {

std::optional<NamedKey> namedKey(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, NamedKey>, 14> kKeys{{
      {"return", {XKB_KEY_Return, false}},
      {"tab", {XKB_KEY_Tab, false}},
      {"space", {XKB_KEY_space, false}},
      {"delete", {XKB_KEY_BackSpace, false}},
      {"escape", {XKB_KEY_Escape, false}},
      {"forwardDelete", {XKB_KEY_Delete, true}},
      {"pageUp", {XKB_KEY_Prior, true}},
      {"pageDown", {XKB_KEY_Next, true}},
      {"left", {XKB_KEY_Left, true}},
      {"right", {XKB_KEY_Right, true}},
      {"up", {XKB_KEY_Up, true}},
      {"down", {XKB_KEY_Down, true}},
      {"home", {XKB_KEY_Home, true}},
      {"end", {XKB_KEY_End, true}},
  }};
  for (const auto& [keyName, key] : kKeys) {
    if (keyName == name) return key;
  }
  return std::nullopt;
}

}  // namespace vistaro
