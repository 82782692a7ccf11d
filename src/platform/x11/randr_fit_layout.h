#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/x11/randr_layout.h"

namespace vistaro::x11 {

// Modes and the monitor of fit mode are named with it, so that a later run knows them as ours.
inline constexpr std::string_view kFitPrefix = "VISTARO-FIT-";
std::string fitName(uint32_t serial);

// Timings a real monitor can take for `width` × `height` (CVT, reduced blanking, 60 Hz), named `name`.
ModeTimings fitMode(uint32_t width, uint32_t height, const std::string& name);

// `before`'s lit CRTCs all showing the top left `mode`-sized area of a screen of that size, the
// mirror, under one primary monitor named like the mode. A CRTC whose outputs refuse the mode keeps
// its own and scales that area onto it; absent when the server cannot scale.
std::optional<ScreenLayout> fitLayout(const ScreenLayout& before, const ModeTimings& mode,
                                      const std::vector<std::string>& refusingOutputs);

}  // namespace vistaro::x11
