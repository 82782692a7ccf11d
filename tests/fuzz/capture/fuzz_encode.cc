// Random frame sizes, regions, limits, qualities and patch geometry for the frame encoder.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstring>

#include "capture/frame_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistaro;
  static FrameEncoder encoder;  // reused, as the hub does
  FuzzedDataProvider in(data, size);
  const auto anyDouble = [&] { return std::bit_cast<double>(in.ConsumeIntegral<uint64_t>()); };  // NaN, infinities
  // Mostly coordinates within a range around the frame.
  const auto coordinate = [&](double range) {
    return in.ConsumeIntegralInRange(0, 15) ? in.ConsumeFloatingPointInRange(-range / 4, range * 1.25) : anyDouble();
  };
  const int width = in.ConsumeIntegralInRange(0, 119), height = in.ConsumeIntegralInRange(0, 89);
  auto frame = PixelBuffer::allocate(width, height, size_t(width) * 4 + in.ConsumeIntegralInRange(0, 8));
  const uint8_t seed = in.ConsumeIntegral<uint8_t>();  // contents matter little: the bytes go to geometry
  for (size_t i = 0; i < frame->bytesPerRow() * height; ++i) frame->mutableData()[i] = i * 31 + seed;
  std::optional<Rect> region;
  if (in.ConsumeBool()) region = Rect{coordinate(1), coordinate(1), coordinate(1), coordinate(1)};
  const int64_t maxWidth = in.ConsumeIntegral<int16_t>();
  const int64_t maxHeight = in.ConsumeBool() ? int64_t{1} << 62 : in.ConsumeIntegral<int16_t>();
  const double quality = in.ConsumeBool() ? anyDouble() : in.ConsumeProbability<double>() * 1.3;
  encoder.encode(*frame, region, maxWidth, maxHeight, quality);
  const Rect layer{coordinate(width), coordinate(height), coordinate(width), coordinate(height)};
  const int outputWidth = in.ConsumeIntegralInRange(-300, 300), outputHeight = in.ConsumeIntegralInRange(-300, 300);
  const Rect patch{coordinate(300), coordinate(300), coordinate(300), coordinate(300)};
  encoder.encodePatch(*frame, layer, outputWidth, outputHeight, patch, quality);
  return 0;
}
