#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vistaro::client {

// Packed RGB, 3 bytes per pixel, rows top to bottom.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;

  uint8_t* pixel(int x, int y) { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
  const uint8_t* pixel(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// Images beyond this many pixels are refused before any memory is taken for
// them: a few bytes of header could otherwise ask for gigabytes.
inline constexpr int64_t kMaxJpegPixels = int64_t{1} << 27;

// Absent when the data is not a JPEG libjpeg-turbo can decode completely.
std::optional<RgbImage> decodeJpeg(std::span<const uint8_t> jpeg);

}  // namespace vistaro::client
