#include "capture/change_detecting_source.h"

namespace vistaro {

void ChangeDetectingSource::startStream(DisplayID id, FrameSink frames, StopSink stopped, Completion done) {
  inner_.startStream(
      id,
      [detector = detector_, frames = std::move(frames)](CapturedFrame frame) {
        frame.changes = detector->detectChanges(frame);
        if (!frame.changes.empty() && frames) frames(std::move(frame));
      },
      std::move(stopped), std::move(done));
}

}  // namespace vistaro
