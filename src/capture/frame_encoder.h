#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "capture/jpeg_writer.h"
#include "capture/lanczos_resampler.h"
#include "capture/layer_encoder.h"
#include "capture/resampled_strips.h"
#include "core/geometry.h"
#include "core/pixel_buffer.h"

namespace vistaro {

// Turns a region of a frame into a JPEG of bounded (layers) or exact (patches)
// size. One per hub, used from its encode executor only; buffers and weights
// are reused, so steady state allocates only the returned bytes.
class FrameEncoder final : public LayerEncoder {
 public:
  FrameEncoder();

  // region: normalised, absent = the whole frame. Absent result: nothing usable.
  std::optional<Layer> encode(const PixelBuffer& frame, std::optional<Rect> region, int64_t maxWidth,
                              int64_t maxHeight, double quality) override;
  // Re-renders patch (in output pixels of a layer showing layerRect of the
  // frame at outputWidth × outputHeight) from the full-resolution frame, at
  // exactly the patch's size; neighbours just outside it take part in the
  // filter, so the patch blends into the layer.
  std::optional<Bytes> encodePatch(const PixelBuffer& frame, const Rect& layerRect, int outputWidth,
                                   int outputHeight, const Rect& patch, double quality) override;

 private:
  std::optional<std::vector<uint8_t>> crop(const PixelBuffer& frame, double x, double y, int width, int height,
                                           int quality, SrgbTag tag);
  std::optional<std::vector<uint8_t>> resample(const PixelBuffer& frame, double x, double y, double scaleX,
                                               double scaleY, int width, int height, int quality, SrgbTag tag);

  JpegWriter writer_;
  LanczosResampler resampler_;
  ResampledStrips strips_;
};

}  // namespace vistaro
