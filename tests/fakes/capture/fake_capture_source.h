#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_source.h"
#include "core/executor.h"

namespace vistaro::testing {

// A capture platform on virtual time: results are chosen by the test, completions are
// posted to the executor, and frames or platform stops are injected by hand.
class FakeCaptureSource final : public CaptureSource {
 public:
  explicit FakeCaptureSource(Executor& executor) : executor_(executor) {}

  std::vector<Display> displays;
  std::optional<CaptureError> listError, startError, filterError;
  // The platform also reports the end of a stream it was asked to stop, as some do.
  bool reportRequestedStops = false;

  std::vector<std::string> calls;  // "list", "start <id>", "stop", "filter"
  std::optional<DisplayID> streamingOn;
  int streamsStarted = 0;

  void listDisplays(DisplaysCompletion done) override {
    calls.push_back("list");
    executor_.post([this, done] { done(listError, listError ? std::vector<Display>{} : displays); });
  }
  void startStream(DisplayID id, FrameSink frames, StopSink stopped, Completion done) override {
    calls.push_back("start " + std::to_string(id));
    executor_.post([this, id, frames, stopped, done] {
      if (!startError) streamingOn = id, frames_ = frames, stopSinks_[++streamsStarted] = stopped;
      done(startError);
    });
  }
  void stopStream(std::function<void()> done) override {
    calls.push_back("stop");
    executor_.post([this, done] {
      if (std::exchange(streamingOn, std::nullopt) && reportRequestedStops) stopSinks_[streamsStarted](std::nullopt);
      frames_ = nullptr, done();
    });
  }
  void updateFilter(Completion done) override {
    calls.push_back("filter");
    executor_.post([this, done] { done(filterError); });
  }

  // A frame of the display being streamed, unless another is named.
  void emitFrame(SharedPixels pixels, DirtyRegion changes = DirtyRegion::unknown(), std::optional<DisplayID> of = {}) {
    if (frames_) frames_({std::move(pixels), of.value_or(streamingOn.value_or(0)), 1.0, std::move(changes)});
  }
  // The platform ends stream number `stream` (1 = the first started) on its own.
  void platformStop(int stream, std::optional<CaptureError> error) {
    if (stream == streamsStarted) streamingOn.reset();
    stopSinks_.at(stream)(std::move(error));
  }

 private:
  Executor& executor_;
  FrameSink frames_;
  std::map<int, StopSink> stopSinks_;
};

}  // namespace vistaro::testing
