#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "capture/capture_source.h"
#include "platform/x11/cursor_overlay.h"
#include "platform/x11/shm_frame_pool.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// The capture of one RandR monitor on its own X connection, driven by the frame clock of
// its owner: each tick turns the damage and pointer motion since the last one into at most
// one frame. Lives on one thread.
class CaptureStream {
 public:
  // RandR sends no event when monitors are redefined, so they are looked at every so many ticks.
  static constexpr int ticksPerMonitorCheck = 20;

  // A null connection: the display could not be opened.
  static std::variant<std::unique_ptr<CaptureStream>, CaptureError> open(std::unique_ptr<Connection> connection,
                                                                        DisplayID id,
                                                                        CaptureSource::FrameSink frames);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // Delivers a frame if anything changed; an error means the stream is over.
  std::optional<CaptureError> tick();
  // The connection's socket, readable when the server has written.
  int descriptor() const;
  // Takes in what the server sent; hasNews() then tells whether a tick would find damage
  // (or that the server is gone).
  void readEvents();
  bool hasNews() const { return damaged_ || cursorChanged_ || lost(); }
  bool lost() const { return connection_->broken(); }
  uint64_t framesDelivered() const { return framesDelivered_; }

 private:
  CaptureStream(std::unique_ptr<Connection> connection, DisplayID id, Rect monitor, double pointScale,
                CaptureSource::FrameSink frames);
  std::optional<CaptureError> setUp();
  void collectDamage();
  // True when the pointer took another shape.
  bool fetchCursor();
  void addDirty(const Rect& rect);
  bool monitorUnchanged();
  // Brings the leased buffer up to date: what changed since the frame it holds is copied from
  // the newest frame and what changed since that one is grabbed, row bands only; the whole
  // monitor when that is about as cheap or the buffer's past is not known. False on failure.
  bool grabInto(const ShmFramePool::Lease& lease, const Rect& pointerArea);
  bool grabWhole(const ShmFramePool::Lease& lease);

  std::unique_ptr<Connection> connection_;
  DisplayID id_;
  Rect monitor_;  // root pixels
  double pointScale_;
  int ticksUntilMonitorCheck_ = ticksPerMonitorCheck;
  int width_;
  int height_;
  CaptureSource::FrameSink frames_;
  uint64_t framesDelivered_ = 0;
  // The frames delivered lately: what changed in each (unknown: everything) and where its
  // pointer was drawn; and the newest one's pixels, which never change again.
  struct Delivered {
    uint64_t number;
    DirtyRegion changes;
    Rect cursor;
  };
  std::deque<Delivered> delivered_;
  SharedPixels newest_;
  std::unique_ptr<ShmFramePool> pool_;
  unsigned long damage_ = 0;
  int damageEventBase_ = 0;
  int fixesEventBase_ = 0;

  bool damaged_ = false;
  bool cursorChanged_ = true;
  CursorImage cursor_;
  Rect cursorArea_;  // where the cursor was drawn last, frame pixels
  // Since the last delivered frame, in frame pixels; unknown before the first. Long lists are
  // merged into a few rectangles (even while a stuck consumer keeps us from delivering), never
  // given up as "everything changed": a moving shaped window still gives patches.
  DirtyRegion dirty_ = DirtyRegion::unknown();
};

}  // namespace vistaro::x11
