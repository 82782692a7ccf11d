#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/x11/randr_layout.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// Makes the screen's configuration `target` (its display and server fields aside), touching only
// what differs. Names that this server lacks are found out before anything changes; a later refusal
// can leave the screen part way, and says what was refused.
std::optional<std::string> applyLayout(Connection& connection, const ScreenLayout& target);

// Makes the mode where the server lacks it and offers it to each output; the outputs that refuse
// it, or absent when the mode cannot be made at all.
std::optional<std::vector<std::string>> offerMode(Connection& connection, const ModeTimings& mode,
                                                  const std::vector<std::string>& outputs);

// Takes away the modes named with `prefix` that no CRTC shows.
void removeUnusedModes(Connection& connection, std::string_view prefix);

}  // namespace vistaro::x11
