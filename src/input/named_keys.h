#pragma once

#include <optional>
#include <string_view>

#include "input/keyboard.h"

namespace vistaro {

struct NamedKey {
  Keysym keysym;
  // Arrows, home, end, page up/down and forward delete: moving around rather than typing.
  bool navigation;
};

// The client's key names ("return", "left", "pageUp", ...); case-sensitive.
std::optional<NamedKey> namedKey(std::string_view name);

}  // namespace vistaro
