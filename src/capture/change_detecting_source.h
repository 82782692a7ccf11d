#pragma once

#include <memory>

#include "capture/capture_source.h"
#include "capture/change_detector.h"

namespace vistaro {

// Any capture source, with each frame's hints narrowed to the tiles that really changed;
// frames without a change never leave it. The detector works where frames arrive (the
// capture executor); streams run one at a time, so one detector serves them all.
class ChangeDetectingSource final : public CaptureSource {
 public:
  explicit ChangeDetectingSource(CaptureSource& inner) : inner_(inner) {}

  void listDisplays(DisplaysCompletion done) override { inner_.listDisplays(std::move(done)); }
  void startStream(DisplayID id, FrameSink frames, StopSink stopped, Completion done) override;
  void stopStream(std::function<void()> done) override { inner_.stopStream(std::move(done)); }
  void updateFilter(Completion done) override { inner_.updateFilter(std::move(done)); }

 private:
  CaptureSource& inner_;
  std::shared_ptr<ChangeDetector> detector_ = std::make_shared<ChangeDetector>();
};

}  // namespace vistaro
