// Random frame sizes, regions, limits and patch geometry for the frame encoder.
#include "capture/frame_encoder.h"
#include "fuzz_input.h"

namespace {

// Mostly coordinates within a range around the frame, sometimes any double (NaN, infinities, huge).
double coordinate(vistaro::fuzzing::FuzzInput& in, double range) {
  if (in.take<uint8_t>() < 16) return in.take<double>();
  return (in.take<uint16_t>() / 65535.0) * range * 1.5 - range * 0.25;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistaro;
  static FrameEncoder encoder;  // reused, as the hub does
  fuzzing::FuzzInput in{data, size};
  const int width = in.take<uint8_t>() % 120;
  const int height = in.take<uint8_t>() % 90;
  auto frame = PixelBuffer::allocate(width, height, static_cast<size_t>(width) * 4 + in.take<uint8_t>() % 9);
  for (size_t i = 0; i < frame->bytesPerRow() * static_cast<size_t>(height); ++i) {
    frame->mutableData()[i] = static_cast<uint8_t>(i * 31 + in.take<uint8_t>());
  }
  std::optional<Rect> region;
  if (in.take<uint8_t>() % 2)
    region = Rect{coordinate(in, 1), coordinate(in, 1), coordinate(in, 1), coordinate(in, 1)};
  const int64_t maxWidth = in.take<int16_t>();
  const int64_t maxHeight = in.take<uint8_t>() % 2 ? int64_t{1} << 62 : in.take<int16_t>();
  const double quality = in.take<uint8_t>() / 200.0;
  encoder.encode(*frame, region, maxWidth, maxHeight, quality);

  const Rect layer{coordinate(in, width), coordinate(in, height), coordinate(in, width), coordinate(in, height)};
  const int64_t outputWidth = in.take<int16_t>() % 300;
  const int64_t outputHeight = in.take<int16_t>() % 300;
  const Rect patch{coordinate(in, 300), coordinate(in, 300), coordinate(in, 300), coordinate(in, 300)};
  encoder.encodePatch(*frame, layer, outputWidth, outputHeight, patch, quality);
  return 0;
}
