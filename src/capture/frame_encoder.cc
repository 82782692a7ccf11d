#include "capture/frame_encoder.h"

#include <algorithm>
#include <cmath>

namespace vistaro {
namespace {

std::optional<int> jpegQuality(double quality) {
  if (!std::isfinite(quality)) return std::nullopt;
  return std::clamp(static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100)), 1, 100);
}

bool readable(const PixelBuffer& frame) {
  if (frame.format() != PixelFormat::bgra || !frame.data()) return false;
  if (frame.width() <= 0 || frame.height() <= 0) return false;
  return frame.bytesPerRow() / 4 >= static_cast<size_t>(frame.width());
}

bool finite(const Rect& rect) {
  return std::isfinite(rect.x) && std::isfinite(rect.y) && std::isfinite(rect.width) && std::isfinite(rect.height);
}

bool encodableSize(double width, double height) {
  return width >= 1 && height >= 1 && width <= JpegWriter::maxDimension && height <= JpegWriter::maxDimension;
}

}  // namespace

FrameEncoder::FrameEncoder() : strips_(resampler_) {}

std::optional<LayerEncoder::Layer> FrameEncoder::encode(const PixelBuffer& frame, std::optional<Rect> region,
                                                        int64_t maxWidth, int64_t maxHeight, double quality) {
  const auto jpegQualityValue = jpegQuality(quality);
  if (!readable(frame) || !jpegQualityValue) return std::nullopt;
  const double frameWidth = frame.width();
  const double frameHeight = frame.height();
  const Rect whole{0, 0, frameWidth, frameHeight};

  Rect pixels = whole;
  if (region) {
    if (!finite(*region)) return std::nullopt;
    const Rect scaled{region->x * frameWidth, region->y * frameHeight, region->width * frameWidth,
                      region->height * frameHeight};
    const auto clipped = scaled.integral().intersection(whole);
    if (!clipped) return std::nullopt;
    pixels = *clipped;
  }
  if (pixels.width < 1 || pixels.height < 1) return std::nullopt;

  const double scaleX = static_cast<double>(maxWidth) / pixels.width;
  const double scaleY = static_cast<double>(maxHeight) / pixels.height;
  const double scale = std::min(scaleX, scaleY);
  std::optional<std::vector<uint8_t>> jpeg;
  if (scale < kNoResampleAbove) {
    if (!(scale > 0)) return std::nullopt;
    const double width = std::max(std::floor(scale * pixels.width), 1.0);
    const double height = std::max(std::floor(scale * pixels.height), 1.0);
    if (!encodableSize(width, height)) return std::nullopt;
    jpeg = resample(frame, pixels.x, pixels.y, scale, scale, static_cast<int>(width), static_cast<int>(height),
                    *jpegQualityValue, SrgbTag::iccProfile);
  } else {
    if (!encodableSize(pixels.width, pixels.height)) return std::nullopt;
    jpeg = crop(frame, pixels.x, pixels.y, static_cast<int>(pixels.width), static_cast<int>(pixels.height),
                *jpegQualityValue, SrgbTag::iccProfile);
  }
  if (!jpeg) return std::nullopt;
  return Layer{std::move(*jpeg), Rect{pixels.x / frameWidth, pixels.y / frameHeight, pixels.width / frameWidth,
                                      pixels.height / frameHeight}};
}

std::optional<Bytes> FrameEncoder::encodePatch(const PixelBuffer& frame, const Rect& layerRect, int outputWidth,
                                               int outputHeight, const Rect& patch, double quality) {
  const auto jpegQualityValue = jpegQuality(quality);
  if (!readable(frame) || !jpegQualityValue) return std::nullopt;
  const double kx = static_cast<double>(outputWidth) / layerRect.width;
  const double ky = static_cast<double>(outputHeight) / layerRect.height;
  const Rect source{layerRect.x + patch.x / kx, layerRect.y + patch.y / ky, patch.width / kx, patch.height / ky};
  if (!(source.width > 0) || !(source.height > 0) || !finite(source)) return std::nullopt;
  // A source far beyond the frame is a caller's error; refusing it also bounds
  // the filter's width, which grows with the source span.
  const double w = frame.width(), h = frame.height();
  if (source.x < -w || source.y < -h || source.maxX() > 2 * w || source.maxY() > 2 * h) return std::nullopt;

  const double width = std::trunc(patch.width);
  const double height = std::trunc(patch.height);
  if (!encodableSize(width, height)) return std::nullopt;
  const double fx = width / source.width;
  const double fy = height / source.height;
  // Patches are pieces of a layer that carries the full profile: the short tag says the same.
  if (fx < kNoResampleAbove || fy < kNoResampleAbove) {
    return resample(frame, source.x, source.y, fx, fy, static_cast<int>(width), static_cast<int>(height),
                    *jpegQualityValue, SrgbTag::exifColorSpace);
  }
  return crop(frame, source.x, source.y, static_cast<int>(width), static_cast<int>(height), *jpegQualityValue,
              SrgbTag::exifColorSpace);
}

std::optional<std::vector<uint8_t>> FrameEncoder::crop(const PixelBuffer& frame, double x, double y, int width,
                                                       int height, int quality, SrgbTag tag) {
  const double left = std::round(x);
  const double top = std::round(y);
  if (left >= 0 && top >= 0 && left + width <= frame.width() && top + height <= frame.height()) {
    const uint8_t* topLeft = frame.row(static_cast<int>(top)) + static_cast<size_t>(left) * 4;
    return writer_.writeBgra(topLeft, frame.bytesPerRow(), width, height, quality, tag);
  }
  // Partly outside the frame: the identity filter repeats the edge pixels there.
  return resample(frame, left, top, 1, 1, width, height, quality, tag);
}

std::optional<std::vector<uint8_t>> FrameEncoder::resample(const PixelBuffer& frame, double x, double y,
                                                           double scaleX, double scaleY, int width, int height,
                                                           int quality, SrgbTag tag) {
  resampler_.configure(frame, x, y, scaleX, scaleY, width, height);
  return writer_.writeYcc420(width, height, quality, tag, strips_);
}

}  // namespace vistaro
