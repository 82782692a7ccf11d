#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vistaro {

// Four-character codes, as capture sources report them.
enum class PixelFormat : uint32_t {
  bgra = 0x42475241,  // 'BGRA': 32 bits, memory order B, G, R, A (or X)
  other = 0,
};

// One captured frame. Shared read-only between the capture, hub and encode
// queues as std::shared_ptr<const PixelBuffer>; rows may be padded.
class PixelBuffer {
 public:
  // 64-byte aligned, rows packed (bytesPerRow = width * 4) unless a larger row size is given.
  static std::shared_ptr<PixelBuffer> allocate(int width, int height, size_t bytesPerRow = 0,
                                               PixelFormat format = PixelFormat::bgra);
  // Wraps memory owned elsewhere (a pool, a shared-memory segment); storage keeps it alive.
  PixelBuffer(PixelFormat format, int width, int height, size_t bytesPerRow,
              std::shared_ptr<uint8_t> storage);

  PixelFormat format() const { return format_; }
  int width() const { return width_; }
  int height() const { return height_; }
  size_t bytesPerRow() const { return bytesPerRow_; }
  // May be null: a buffer whose memory could not be mapped.
  const uint8_t* data() const { return storage_.get(); }
  const uint8_t* row(int y) const { return data() + static_cast<size_t>(y) * bytesPerRow_; }
  // Writable only by the producer, before the buffer is shared.
  uint8_t* mutableData() { return storage_.get(); }
  uint8_t* mutableRow(int y) { return mutableData() + static_cast<size_t>(y) * bytesPerRow_; }

 private:
  PixelFormat format_;
  int width_;
  int height_;
  size_t bytesPerRow_;
  std::shared_ptr<uint8_t> storage_;
};

using SharedPixels = std::shared_ptr<const PixelBuffer>;

}  // namespace vistaro
