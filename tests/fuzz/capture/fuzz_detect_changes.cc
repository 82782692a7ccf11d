// Random geometry, frame contents and hints (any doubles) for the change detector.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstring>

#include "capture/change_detector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistaro;
  FuzzedDataProvider in(data, size);
  const auto anyDouble = [&] { return std::bit_cast<double>(in.ConsumeIntegral<uint64_t>()); };  // NaN, infinities
  ChangeDetector detector;
  for (int frameIndex = 0; frameIndex < 3 && in.remaining_bytes() > 0; ++frameIndex) {
    const int width = in.ConsumeIntegralInRange(0, 199), height = in.ConsumeIntegralInRange(0, 149);
    auto frame = PixelBuffer::allocate(width, height, size_t(width) * 4 + in.ConsumeIntegralInRange(0, 16));
    std::memset(frame->mutableData(), in.ConsumeIntegral<uint8_t>(), frame->bytesPerRow() * height);
    for (int n = in.ConsumeIntegralInRange(0, 7); n > 0 && width > 0 && height > 0; --n)  // row, then byte
      frame->mutableRow(in.ConsumeIntegralInRange(0, height - 1))[in.ConsumeIntegralInRange(0, width * 4 - 1)] ^= 0xff;
    std::vector<Rect> hints(in.ConsumeIntegralInRange(0, 5));
    for (Rect& r : hints) r = {anyDouble(), anyDouble(), anyDouble(), anyDouble()};
    const auto changes = in.ConsumeBool() ? DirtyRegion::unknown() : DirtyRegion::of(std::move(hints));
    detector.detectChanges({frame, DisplayID(in.ConsumeIntegralInRange(0, 1)), 1.0, changes});
  }
  return 0;
}
