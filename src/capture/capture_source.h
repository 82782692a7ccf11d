#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_error.h"
#include "capture/captured_frame.h"
#include "core/display_info.h"

namespace vistaro {

// What the platform's screen capture offers the capturer. Every call is made on the main
// executor and every completion comes back on it; frames and unrequested stops arrive on
// the capture executor. At most one stream runs at a time.
class CaptureSource {
 public:
  struct Display {
    DisplayID id = 0;
    std::string name;  // empty when the platform has none
    int64_t width = 0;
    int64_t height = 0;
    bool primary = false;
    double pointScale = 1.0;  // pixels per point
  };

  // A frame of the stream's display; its changes are the platform's hints (whole areas, maybe
  // larger than what really changed).
  using FrameSink = std::function<void(CapturedFrame)>;
  // The stream ended without being asked to.
  using StopSink = std::function<void(std::optional<CaptureError>)>;
  using Completion = std::function<void(std::optional<CaptureError>)>;
  using DisplaysCompletion = std::function<void(std::optional<CaptureError>, std::vector<Display>)>;

  virtual ~CaptureSource() = default;

  virtual void listDisplays(DisplaysCompletion done) = 0;
  virtual void startStream(DisplayID id, FrameSink frames, StopSink stopped, Completion done) = 0;
  // Never fails; after done no frame of the old stream is delivered.
  virtual void stopStream(std::function<void()> done) = 0;
  // Re-applies which of the host's own windows are kept out of the picture.
  virtual void updateFilter(Completion done) = 0;
};

}  // namespace vistaro
