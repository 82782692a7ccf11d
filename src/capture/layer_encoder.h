#pragma once

#include <cstdint>
#include <optional>

#include "core/geometry.h"
#include "core/pixel_buffer.h"
#include "core/bytes.h"

namespace vistaro {

// The image encoder as the fan-out uses it; absent results are failures.
class LayerEncoder {
 public:
  // Layers never enlarge and are not resampled at factors within 0.1 % of 1: the frame's own
  // pixels go out. Whoever plans a layer's size must know it too.
  static constexpr double kNoResampleAbove = 0.999;

  struct Layer {
    Bytes jpeg;
    Rect normalizedRect;  // the pixels actually encoded, over the frame size
  };

  virtual ~LayerEncoder() = default;
  virtual std::optional<Layer> encode(const PixelBuffer& buffer, std::optional<Rect> normalizedRegion,
                                      int64_t maxWidth, int64_t maxHeight, double quality) = 0;
  virtual std::optional<Bytes> encodePatch(const PixelBuffer& buffer, const Rect& layerRect, int outputWidth,
                                           int outputHeight, const Rect& patchRect, double quality) = 0;
};

}  // namespace vistaro
