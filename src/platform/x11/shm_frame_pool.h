#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "core/pixel_buffer.h"
#include "platform/x11/x11_connection.h"

struct _XImage;

namespace vistaro::x11 {

// Frame buffers in MIT-SHM segments: the server writes a grab straight into the buffer that
// is then handed on, so a frame costs no copy. A buffer returns to the pool when its last
// holder lets go, from any thread; at most `depth` exist, and when all are held the
// capturer skips frames rather than queue them.
class ShmFramePool {
 public:
  struct Lease {
    std::shared_ptr<PixelBuffer> pixels;  // writable until handed on
    _XImage* image;                       // for XShmGetImage; valid while the pool lives
    // The number of the frame whose pixels the buffer still holds (0: none); the capturer
    // sets it, and brings only what changed since up to date.
    uint64_t* holdsFrame;
  };

  // Null when the server cannot share memory with us or its pixels are not 32-bit BGRX.
  static std::unique_ptr<ShmFramePool> create(Connection& connection, int width, int height, int depth);
  ~ShmFramePool();
  ShmFramePool(const ShmFramePool&) = delete;
  ShmFramePool& operator=(const ShmFramePool&) = delete;

  // Empty when every buffer is still held downstream (or a new segment cannot be made).
  std::optional<Lease> acquire();
  // Grabs rows [firstRow, firstRow + rows) of the area at `origin` on `drawable` straight into
  // the same rows of the buffer: what a grab costs the server follows the rows asked for.
  bool grabRows(const Lease& lease, unsigned long drawable, int originX, int originY, int firstRow, int rows);
  // A small area (at most kLargestRectPixels) through a scratch segment, copied into place:
  // a glyph costs the server its own pixels, not whole rows.
  static constexpr int kLargestRectPixels = 128 * 128;
  bool grabRect(const Lease& lease, unsigned long drawable, int originX, int originY, int x, int y, int width,
                int height);

 private:
  struct Slot;
  ShmFramePool(Connection& connection, int width, int height, int depth);
  std::shared_ptr<Slot> makeSlot();
  std::shared_ptr<Slot> makeSlot(int width, int height);

  Connection& connection_;
  int width_;
  int height_;
  int depth_;
  std::vector<std::shared_ptr<Slot>> slots_;
  std::shared_ptr<Slot> scratch_;  // made at the first small grab
};

}  // namespace vistaro::x11
