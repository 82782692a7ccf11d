#include "capture/lanczos_resampler.h"

#include <algorithm>

namespace vistaro {

LanczosResampler::LanczosResampler(const ResampleKernels& kernels) : kernels_(kernels) {}

void LanczosResampler::configure(const PixelBuffer& frame, double x, double y, double scaleX, double scaleY,
                                 int outputWidth, int outputHeight) {
  frame_ = &frame;
  outputWidth_ = outputWidth;
  outputHeight_ = outputHeight;
  const Geometry geometry{frame.width(), frame.height(), x, y, scaleX, scaleY, outputWidth, outputHeight};
  if (configured_ && geometry == geometry_) return;
  geometry_ = geometry;
  configured_ = true;

  horizontal_.compute(x, scaleX, outputWidth, frame.width());
  vertical_.compute(y, scaleY, outputHeight, frame.height());
  paddedTaps_ = (horizontal_.taps + 3) / 4 * 4;
  const int firstColumn = horizontal_.firstSource();
  rowStarts_.resize(static_cast<size_t>(outputWidth));
  paddedWeights_.assign(static_cast<size_t>(outputWidth) * static_cast<size_t>(paddedTaps_), 0);
  for (int i = 0; i < outputWidth; ++i) {
    rowStarts_[static_cast<size_t>(i)] = horizontal_.start[static_cast<size_t>(i)] - firstColumn;
    std::copy_n(&horizontal_.weights[static_cast<size_t>(i) * static_cast<size_t>(horizontal_.taps)],
                horizontal_.taps, &paddedWeights_[static_cast<size_t>(i) * static_cast<size_t>(paddedTaps_)]);
  }
  const int columnCount = horizontal_.endSource() - firstColumn;
  columns_.assign(static_cast<size_t>(columnCount + paddedTaps_) * 4, 0);
  sourceRows_.resize(static_cast<size_t>(vertical_.taps));
}

void LanczosResampler::resampleRow(int row, uint8_t* bgra) {
  const size_t taps = static_cast<size_t>(vertical_.taps);
  const size_t firstByte = static_cast<size_t>(horizontal_.firstSource()) * 4;
  const int firstRow = vertical_.start[static_cast<size_t>(row)];
  for (size_t t = 0; t < taps; ++t) sourceRows_[t] = frame_->row(firstRow + static_cast<int>(t)) + firstByte;
  const size_t count = static_cast<size_t>(horizontal_.endSource() - horizontal_.firstSource()) * 4;
  kernels_.filterColumns(sourceRows_.data(), &vertical_.weights[static_cast<size_t>(row) * taps], vertical_.taps,
                         count, columns_.data());
  kernels_.filterRow(columns_.data(), rowStarts_.data(), paddedWeights_.data(), paddedTaps_, outputWidth_, bgra);
}

}  // namespace vistaro
