#include "platform/x11/shm_frame_pool.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstring>

namespace vistaro::x11 {

struct ShmFramePool::Slot {
  XShmSegmentInfo segment{};
  XImage* image = nullptr;
  std::atomic<bool> held{false};
  uint64_t frame = 0;

  // May run after the connection is gone (a consumer still held the buffer): only local
  // resources are released here; the server side went with the connection or the pool.
  ~Slot() {
    if (image) {
      image->data = nullptr;    // the segment, not malloc'd memory
      image->obdata = nullptr;  // our segment info, not malloc'd either
      XDestroyImage(image);
    }
    if (segment.shmaddr && segment.shmaddr != reinterpret_cast<char*>(-1)) shmdt(segment.shmaddr);
  }
};

namespace {

bool isBgrx(::Display* display) {
  Visual* visual = DefaultVisual(display, DefaultScreen(display));
  return DefaultDepth(display, DefaultScreen(display)) >= 24 && visual->red_mask == 0xff0000 &&
         visual->green_mask == 0xff00 && visual->blue_mask == 0xff;
}

}  // namespace

std::unique_ptr<ShmFramePool> ShmFramePool::create(Connection& connection, int width, int height, int depth) {
  ::Display* display = connection.get();
  if (!XShmQueryExtension(display) || !isBgrx(display)) return nullptr;
  std::unique_ptr<ShmFramePool> pool(new ShmFramePool(connection, width, height, depth));
  // One segment up front proves that sharing works (it does not for a remote server).
  auto first = pool->makeSlot();
  if (!first) return nullptr;
  pool->slots_.push_back(std::move(first));
  return pool;
}

ShmFramePool::ShmFramePool(Connection& connection, int width, int height, int depth)
    : connection_(connection), width_(width), height_(height), depth_(depth) {}

ShmFramePool::~ShmFramePool() {
  if (connection_.broken()) return;
  for (auto& slot : slots_) XShmDetach(connection_.get(), &slot->segment);
  if (scratch_) XShmDetach(connection_.get(), &scratch_->segment);
  XSync(connection_.get(), False);
}

std::shared_ptr<ShmFramePool::Slot> ShmFramePool::makeSlot() { return makeSlot(width_, height_); }

std::shared_ptr<ShmFramePool::Slot> ShmFramePool::makeSlot(int width, int height) {
  ::Display* display = connection_.get();
  int screen = DefaultScreen(display);
  auto slot = std::make_shared<Slot>();
  slot->image = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                                nullptr, &slot->segment, width, height);
  if (!slot->image || slot->image->bits_per_pixel != 32 || slot->image->byte_order != LSBFirst) return nullptr;
  size_t bytes = size_t(slot->image->bytes_per_line) * size_t(height);
  slot->segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (slot->segment.shmid < 0) return nullptr;
  slot->segment.shmaddr = static_cast<char*>(shmat(slot->segment.shmid, nullptr, 0));
  if (slot->segment.shmaddr == reinterpret_cast<char*>(-1)) {
    shmctl(slot->segment.shmid, IPC_RMID, nullptr);
    return nullptr;
  }
  slot->image->data = slot->segment.shmaddr;
  slot->segment.readOnly = False;
  connection_.takeError();
  bool attached = XShmAttach(display, &slot->segment) && XSync(display, False) && connection_.takeError() == 0 &&
                  !connection_.broken();
  // Marked for removal now, so the segment vanishes with its last user even if we crash.
  shmctl(slot->segment.shmid, IPC_RMID, nullptr);
  return attached ? slot : nullptr;
}

std::optional<ShmFramePool::Lease> ShmFramePool::acquire() {
  std::shared_ptr<Slot> free;
  for (auto& slot : slots_) {
    bool expected = false;
    if (slot->held.compare_exchange_strong(expected, true)) {
      free = slot;
      break;
    }
  }
  if (!free && int(slots_.size()) < depth_) {
    free = makeSlot();
    if (!free) return std::nullopt;
    free->held = true;
    slots_.push_back(free);
  }
  if (!free) return std::nullopt;
  auto* data = reinterpret_cast<uint8_t*>(free->segment.shmaddr);
  std::shared_ptr<uint8_t> storage(data, [free](uint8_t*) { free->held = false; });
  auto pixels = std::make_shared<PixelBuffer>(PixelFormat::bgra, width_, height_,
                                              size_t(free->image->bytes_per_line), std::move(storage));
  return Lease{std::move(pixels), free->image, &free->frame};
}

bool ShmFramePool::grabRows(const Lease& lease, unsigned long drawable, int originX, int originY, int firstRow,
                            int rows) {
  ::Display* display = connection_.get();
  int screen = DefaultScreen(display);
  auto* segment = reinterpret_cast<XShmSegmentInfo*>(lease.image->obdata);
  // A header for the band: same width, so the same stride; the server writes at the data's
  // offset within the segment.
  XImage* band = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                                 nullptr, segment, width_, rows);
  if (!band) return false;
  band->data = lease.image->data + size_t(lease.image->bytes_per_line) * size_t(firstRow);
  const bool grabbed = band->bytes_per_line == lease.image->bytes_per_line &&
                       XShmGetImage(display, drawable, band, originX, originY + firstRow, AllPlanes);
  band->data = nullptr;
  band->obdata = nullptr;
  XDestroyImage(band);
  return grabbed;
}

bool ShmFramePool::grabRect(const Lease& lease, unsigned long drawable, int originX, int originY, int x, int y,
                            int width, int height) {
  if (width < 1 || height < 1 || width * height > kLargestRectPixels) return false;
  if (!scratch_) scratch_ = makeSlot(kLargestRectPixels, 1);
  if (!scratch_) return false;
  ::Display* display = connection_.get();
  int screen = DefaultScreen(display);
  // Rows of the rectangle's own width, packed at the start of the scratch segment.
  XImage* area = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                                 nullptr, &scratch_->segment, width, height);
  if (!area) return false;
  area->data = scratch_->segment.shmaddr;
  const bool fits = size_t(area->bytes_per_line) * size_t(height) <= size_t(kLargestRectPixels) * 4;
  const bool grabbed = fits && XShmGetImage(display, drawable, area, originX + x, originY + y, AllPlanes);
  if (grabbed) {
    for (int row = 0; row < height; ++row)
      std::memcpy(lease.pixels->mutableRow(y + row) + size_t(x) * 4,
                  area->data + size_t(row) * size_t(area->bytes_per_line), size_t(width) * 4);
  }
  area->data = nullptr;
  area->obdata = nullptr;
  XDestroyImage(area);
  return grabbed;
}

}  // namespace vistaro::x11
