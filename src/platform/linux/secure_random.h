#pragma once

#include <cstdint>

namespace vistaro {

// Uniform in [0, bound), from the kernel's random source: a PIN must not be guessable.
uint32_t secureRandomBelow(uint32_t bound);

}  // namespace vistaro
