#pragma once

#include <cstdint>
#include <vector>

#include "capture/lanczos_weights.h"
#include "capture/resample_kernels.h"
#include "core/pixel_buffer.h"

namespace vistaro {

// Separable Lanczos-3 resampling of a BGRA frame, one output row at a time
// (vertical pass over the source rows the row needs, then horizontal), so the
// working set stays in cache and no intermediate image exists. Our own rather
// than a library's because it is the hot path: libswscale is 2 × slower here.
class LanczosResampler {
 public:
  explicit LanczosResampler(const ResampleKernels& kernels = ResampleKernels::forThisCpu());

  // Output pixel (i, j) is centred on frame point (x + (i + 0.5) / scaleX,
  // y + (j + 0.5) / scaleY); pixels beyond the frame's edges repeat the edge.
  // The frame must stay alive while rows are read. Weights are kept for the
  // next call with the same geometry.
  void configure(const PixelBuffer& frame, double x, double y, double scaleX, double scaleY, int outputWidth,
                 int outputHeight);
  void resampleRow(int row, uint8_t* bgra);
  int outputWidth() const { return outputWidth_; }
  int outputHeight() const { return outputHeight_; }
  const ResampleKernels& kernels() const { return kernels_; }

 private:
  struct Geometry {
    int frameWidth, frameHeight;
    double x, y, scaleX, scaleY;
    int outputWidth, outputHeight;
    bool operator==(const Geometry&) const = default;
  };

  const ResampleKernels& kernels_;
  const PixelBuffer* frame_ = nullptr;
  Geometry geometry_{};
  bool configured_ = false;
  int outputWidth_ = 0;
  int outputHeight_ = 0;
  LanczosAxis horizontal_;
  LanczosAxis vertical_;
  int paddedTaps_ = 0;
  std::vector<int32_t> rowStarts_;      // horizontal starts relative to the first column read
  std::vector<int16_t> paddedWeights_;  // horizontal weights, taps padded to a multiple of 4
  std::vector<int16_t> columns_;        // one vertically filtered row, plus zeroed padding
  std::vector<const uint8_t*> sourceRows_;
};

}  // namespace vistaro
