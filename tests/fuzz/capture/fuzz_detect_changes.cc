// Random geometry, frame contents and dirty rectangles for the change detector.
#include <cstring>

#include "capture/change_detector.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistaro;
  fuzzing::FuzzInput in{data, size};
  ChangeDetector detector;
  for (int frameIndex = 0; frameIndex < 3 && in.size > 0; ++frameIndex) {
    const int width = in.take<uint8_t>() % 200;
    const int height = in.take<uint8_t>() % 150;
    const size_t padding = in.take<uint8_t>() % 17;
    auto frame = PixelBuffer::allocate(width, height, static_cast<size_t>(width) * 4 + padding);
    const uint8_t fill = in.take<uint8_t>();
    std::memset(frame->mutableData(), fill, frame->bytesPerRow() * static_cast<size_t>(height));
    for (int n = in.take<uint8_t>() % 8; n > 0 && width > 0 && height > 0; --n) {
      frame->mutableRow(in.take<uint8_t>() % height)[in.take<uint8_t>() % (width * 4)] ^= 0xff;
    }
    std::optional<std::vector<Rect>> dirty;
    const uint8_t rectCount = in.take<uint8_t>();
    if (rectCount != 0xff) {
      dirty.emplace();
      for (int n = rectCount % 6; n > 0; --n) {
        dirty->push_back({in.take<double>(), in.take<double>(), in.take<double>(), in.take<double>()});
      }
    }
    detector.detectChanges(frame, in.take<uint8_t>() % 2, dirty);
  }
  return 0;
}
