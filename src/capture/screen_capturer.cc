#include "capture/screen_capturer.h"

#include <fmt/printf.h>

#include <algorithm>

#include "core/l10n.h"

namespace vistaro {

namespace {

DisplayInfo describe(const CaptureSource::Display& display) {
  std::string name = display.name;
  if (name.empty()) name = fmt::sprintf(localized("ディスプレイ %lld"), static_cast<long long>(display.id));
  return {display.id, std::move(name), display.width, display.height};
}

}  // namespace

ScreenCapturer::ScreenCapturer(Executor& main, CaptureSource& source) : main_(main), source_(source) {}

ScreenCapturer::~ScreenCapturer() {
  if (stream_) source_.stopStream([] {});
}

void ScreenCapturer::displays(DisplaysCompletion done) {
  source_.listDisplays([done = std::move(done)](std::optional<CaptureError> error,
                                                std::vector<CaptureSource::Display> found) {
    DisplayListing listing;
    if (!error) {
      for (const auto& display : found) listing.displays.push_back(describe(display));
      auto primary = std::find_if(found.begin(), found.end(), [](const auto& d) { return d.primary; });
      if (primary != found.end()) listing.mainDisplay = primary->id;
      else if (!found.empty()) listing.mainDisplay = found.front().id;
    }
    done(std::move(error), std::move(listing));
  });
}

void ScreenCapturer::enqueue(Operation operation, Completion done) {
  ++pendingOperations_;
  queue_.push_back({std::move(operation), std::move(done)});
  if (!running_) runNext();
}

void ScreenCapturer::runNext() {
  if (queue_.empty()) return;
  running_ = true;
  Queued next = std::move(queue_.front());
  queue_.pop_front();
  // The continuation always goes through the executor: an operation that completes at once
  // must not run the next one inside its own call, nor let a caller see its result early.
  next.operation(guard_.wrap([this, done = std::move(next.done)](std::optional<CaptureError> result) mutable {
    main_.post(guard_.wrap([this, done = std::move(done), result = std::move(result)] {
      --pendingOperations_;
      running_ = false;
      if (done) done(result);
      if (!running_) runNext();
    }));
  }));
}

ScreenCapturer::Operation ScreenCapturer::start(DisplayID id) {
  return [this, id](Completion done) {
    stopCurrent([this, id, done = std::move(done)]() mutable { startOn(id, std::move(done)); });
  };
}

ScreenCapturer::Operation ScreenCapturer::stop() {
  return [this](Completion done) { stopCurrent([done = std::move(done)] { done(std::nullopt); }); };
}

ScreenCapturer::Operation ScreenCapturer::updateFilter() {
  return [this](Completion done) {
    if (!stream_) return done(std::nullopt);
    source_.listDisplays(guard_.wrap([this, done = std::move(done)](std::optional<CaptureError> error,
                                                                std::vector<CaptureSource::Display> found) {
      if (error) return done(std::move(error));
      bool present = std::any_of(found.begin(), found.end(), [&](const auto& d) { return d.id == displayID_; });
      if (!present || !stream_) return done(std::nullopt);
      source_.updateFilter(std::move(done));
    }));
  };
}

void ScreenCapturer::stopCurrent(std::function<void()> then) {
  if (!stream_) return then();
  // Cleared first: a stop report of this stream from now on is ours, not the platform's.
  stream_.reset();
  source_.stopStream(guard_.wrap(std::move(then)));
}

void ScreenCapturer::startOn(DisplayID requested, Completion done) {
  source_.listDisplays(guard_.wrap([this, requested, done = std::move(done)](
                                   std::optional<CaptureError> error, std::vector<CaptureSource::Display> found) {
    if (error) return done(std::move(error));
    if (found.empty()) return done(CaptureError::noDisplay());
    auto chosen = std::find_if(found.begin(), found.end(), [&](const auto& d) { return d.id == requested; });
    const CaptureSource::Display& display = chosen != found.end() ? *chosen : found.front();
    displayID_ = display.id;
    pointScale_ = display.pointScale;

    uint64_t stream = ++lastStream_;
    // The frame path carries its own copy: it runs on the capture executor while the
    // main executor may already be choosing the next display.
    auto frames = [onFrame = onFrame](CapturedFrame frame) {
      if (onFrame) onFrame(std::move(frame));
    };
    auto stopped = [this, stream](std::optional<CaptureError> error) {
      main_.post(guard_.wrap([this, stream, error = std::move(error)]() mutable { streamStopped(stream, std::move(error)); }));
    };
    source_.startStream(display.id, std::move(frames), std::move(stopped),
                        guard_.wrap([this, stream, done = std::move(done)](std::optional<CaptureError> error) {
                          if (!error) stream_ = stream;
                          done(std::move(error));
                        }));
  }));
}

void ScreenCapturer::streamStopped(uint64_t stream, std::optional<CaptureError> error) {
  // A stop during a queued or running operation belongs to that operation (a restart's old
  // stream, a stop in flight); only a stop nobody asked for is reported.
  if (stream_ != stream || pendingOperations_ != 0) return;
  stream_.reset();
  if (onStop) onStop(std::move(error));
}

}  // namespace vistaro
