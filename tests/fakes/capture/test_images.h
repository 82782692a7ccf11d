#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/pixel_buffer.h"

namespace vistaro::testing {

// A BGRA frame that looks like a desktop: windows with title bars and 1-pixel
// borders, rows of glyph-like strokes, a gradient and a photo-like patch.
std::shared_ptr<PixelBuffer> desktopLikeFrame(int width, int height, uint32_t seed = 1, size_t rowPadding = 0);

// Peak signal-to-noise ratio in dB over the first three channels of two images
// of the same layout.
double psnr(const uint8_t* a, const uint8_t* b, size_t pixels, int bytesPerPixel = 4);

}  // namespace vistaro::testing
