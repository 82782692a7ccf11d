#pragma once

#include <cstdint>
#include <vector>

namespace vistaro {

// Bytes as they go over the wire or come out of an encoder.
using Bytes = std::vector<uint8_t>;

}  // namespace vistaro
