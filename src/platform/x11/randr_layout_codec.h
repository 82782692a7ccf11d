#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/x11/randr_layout.h"

namespace vistaro::x11 {

// A saved layout as JSON, the file a crashed host leaves for the next one.
std::string encodeLayout(const ScreenLayout& layout);
// Absent for anything but a whole, well-formed layout: a damaged file is never half applied.
std::optional<ScreenLayout> decodeLayout(std::string_view text);

}  // namespace vistaro::x11
