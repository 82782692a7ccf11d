#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "display/stored_window_frames.h"
#include "display/window_service.h"

namespace vistaro {

// Fit mode's windows: remembers where they were, fits them into the display the desktop now is,
// keeps them there while it lasts and puts them back afterwards, or at the next start after a crash.
// Called on the main executor; the window system is used on `queue` only, one pass at a time.
class WindowFitter {
 public:
  // Putting back the windows when the host quits waits no longer for a program that does not answer.
  static constexpr Duration kRestoreLimit = std::chrono::seconds(3);

  struct Dependencies {
    Executor& main;
    Executor& queue;
    WindowService& windows;
    StoredWindowFrames& stored;
  };

  explicit WindowFitter(Dependencies dependencies);
  WindowFitter(const WindowFitter&) = delete;
  WindowFitter& operator=(const WindowFitter&) = delete;

  // Records the frames to put back, once until restore(); `done` on the main executor after.
  void remember(std::function<void()> done);
  // Each window into the display's work area; with `fillWindow`, the active one fills it.
  void fit(DisplayID display, bool fillWindow);
  // Windows that appeared or wandered off are fitted; one keep pass at a time.
  void keep(DisplayID display);
  // Puts every window back; `done` (may be empty) on the main executor once that is done or
  // kRestoreLimit has passed.
  void restore(std::function<void()> done);
  bool hasStoredFrames();

 private:
  struct Passes;
  // The record on disk follows the queue's, in the order the passes changed it.
  void noteRecord(std::optional<std::vector<StoredFrame>> record);

  Executor& main_;
  Executor& queue_;
  StoredWindowFrames& stored_;
  std::shared_ptr<Passes> passes_;  // lives on the queue, for as long as a pass needs it
  bool keeping_ = false;
  LifetimeGuard guard_;
};

// The frame a window gets inside `target`: moved in from the edges, and made smaller only as far as it must.
Rect fittedFrame(const Rect& frame, const Rect& target);
// Whether the user can still grab and move a window that is larger than the target.
bool isReachable(const Rect& frame, const Rect& target);

}  // namespace vistaro
