// Random geometry, frame contents and hints (any doubles) for the change detector.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "capture/change_detector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistaro;
  FuzzedDataProvider in(data, size);
  const auto anyDouble = [&] {  // NaN and infinities too
    double value = 0;
    const auto bytes = in.ConsumeBytes<uint8_t>(sizeof value);
    return *static_cast<double*>(std::memcpy(&value, bytes.data(), bytes.size()));
  };
  ChangeDetector detector;
  for (int frameIndex = 0; frameIndex < 3 && in.remaining_bytes() > 0; ++frameIndex) {
    const int width = in.ConsumeIntegralInRange(0, 199), height = in.ConsumeIntegralInRange(0, 149);
    auto frame = PixelBuffer::allocate(width, height, size_t(width) * 4 + in.ConsumeIntegralInRange(0, 16));
    std::memset(frame->mutableData(), in.ConsumeIntegral<uint8_t>(), frame->bytesPerRow() * height);
    for (int n = in.ConsumeIntegralInRange(0, 7); n > 0 && width > 0 && height > 0; --n) {
      const int y = in.ConsumeIntegralInRange(0, height - 1);
      frame->mutableRow(y)[in.ConsumeIntegralInRange(0, width * 4 - 1)] ^= 0xff;
    }
    std::vector<Rect> hints(in.ConsumeIntegralInRange(0, 5));
    for (Rect& r : hints) r = {anyDouble(), anyDouble(), anyDouble(), anyDouble()};
    const auto changes = in.ConsumeBool() ? DirtyRegion::unknown() : DirtyRegion::of(std::move(hints));
    detector.detectChanges({frame, DisplayID(in.ConsumeIntegralInRange(0, 1)), 1.0, changes});
  }
  return 0;
}
