#include "core/pixel_buffer.h"

#include <cstdlib>
#include <new>

namespace vistaro {

std::shared_ptr<PixelBuffer> PixelBuffer::allocate(int width, int height, size_t bytesPerRow,
                                                   PixelFormat format) {
  if (width < 0 || height < 0) throw std::bad_alloc();
  if (bytesPerRow == 0) bytesPerRow = static_cast<size_t>(width) * 4;
  size_t bytes = bytesPerRow * static_cast<size_t>(height);
  bytes = (bytes + 63) / 64 * 64;
  void* memory = std::aligned_alloc(64, bytes == 0 ? 64 : bytes);
  if (!memory) throw std::bad_alloc();
  std::shared_ptr<uint8_t> storage(static_cast<uint8_t*>(memory), [](uint8_t* p) { std::free(p); });
  return std::make_shared<PixelBuffer>(format, width, height, bytesPerRow, std::move(storage));
}

PixelBuffer::PixelBuffer(PixelFormat format, int width, int height, size_t bytesPerRow,
                         std::shared_ptr<uint8_t> storage)
    : format_(format), width_(width), height_(height), bytesPerRow_(bytesPerRow),
      storage_(std::move(storage)) {}

}  // namespace vistaro
