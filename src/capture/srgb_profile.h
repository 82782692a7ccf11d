#pragma once

#include <cstdint>
#include <span>

namespace vistaro {

// The compact sRGB ICC profile every JPEG is tagged with (resources/srgb.icc,
// built into the program so that the host needs no data files).
std::span<const uint8_t> srgbProfile();

}  // namespace vistaro
