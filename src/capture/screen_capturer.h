#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "capture/capture_error.h"
#include "capture/capture_source.h"
#include "core/display_info.h"
#include "core/executor.h"
#include "core/lifetime_guard.h"

namespace vistaro {

// Drives the platform's capture of one display at a time. Start, stop and filter updates
// are asynchronous on the platform; they run strictly one after another so that
// overlapping requests of the controller never interleave.
class ScreenCapturer {
 public:
  using FrameCallback = std::function<void(CapturedFrame)>;
  using StopCallback = std::function<void(std::optional<CaptureError>)>;
  using Completion = std::function<void(std::optional<CaptureError>)>;
  // An operation runs on the main executor and reports once, on it.
  using Operation = std::function<void(Completion)>;

  struct DisplayListing {
    std::vector<DisplayInfo> displays;
    DisplayID mainDisplay = 0;  // the primary display, else the first; 0 when there is none
  };
  using DisplaysCompletion = std::function<void(std::optional<CaptureError>, DisplayListing)>;

  ScreenCapturer(Executor& main, CaptureSource& source);
  ~ScreenCapturer();
  ScreenCapturer(const ScreenCapturer&) = delete;
  ScreenCapturer& operator=(const ScreenCapturer&) = delete;

  // Set once, before the first operation. Frames arrive on the capture executor.
  FrameCallback onFrame;
  // A stream the capturer did not ask to end has ended; on the main executor.
  StopCallback onStop;

  // Not chained and leaves the stream alone.
  void displays(DisplaysCompletion done);

  // Main executor only. `done` (optional) gets the operation's own result.
  void enqueue(Operation operation, Completion done = {});
  Operation start(DisplayID id);
  Operation stop();
  Operation updateFilter();

  int pendingOperations() const { return pendingOperations_; }
  bool streaming() const { return stream_.has_value(); }
  // The display of the current (or last started) stream, and its pixels per point.
  DisplayID displayID() const { return displayID_; }
  double pointScale() const { return pointScale_; }

 private:
  struct Queued {
    Operation operation;
    Completion done;
  };
  void runNext();
  void stopCurrent(std::function<void()> then);
  void startOn(DisplayID requested, Completion done);
  void streamStopped(uint64_t stream, std::optional<CaptureError> error);

  Executor& main_;
  CaptureSource& source_;
  std::deque<Queued> queue_;
  bool running_ = false;
  int pendingOperations_ = 0;
  std::optional<uint64_t> stream_;
  uint64_t lastStream_ = 0;
  DisplayID displayID_ = 0;
  double pointScale_ = 1.0;
  LifetimeGuard guard_;
};

}  // namespace vistaro
