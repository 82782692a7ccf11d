#include "platform/x11/x11_capture_source.h"

#include <unistd.h>

#include <algorithm>
#include <asio/posix/stream_descriptor.hpp>
#include <utility>

#include "core/asio_executor.h"

#include "platform/x11/session_scale.h"
#include "platform/x11/x11_capture_stream.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {

struct X11CaptureSource::State {
  Executor& main;
  Executor& capture;
  std::string displayName;
  // Capture executor only.
  std::unique_ptr<CaptureStream> stream;
  StopSink stopped;
  uint64_t generation = 0;
  DelayedWork nextTick;
  TimePoint lastFrame{};
  // Wakes us when the server writes (on a queue that can watch descriptors), so that damage
  // after a quiet spell is grabbed at once rather than at the next tick.
  std::unique_ptr<asio::posix::stream_descriptor> serverWrote;
  // A display that opened once and no longer does has gone away, not refused us.
  bool openedBefore = false;

  std::unique_ptr<Connection> open() {
    auto connection = Connection::open(displayName);
    openedBefore = openedBefore || connection;
    return connection;
  }
  CaptureError unopenable() const { return openedBefore ? CaptureError::displayLost() : CaptureError::noPermission(); }

  void endStream() {
    ++generation;
    stream.reset();
    serverWrote.reset();
    nextTick.cancel();
  }
};

X11CaptureSource::X11CaptureSource(Executor& main, Executor& capture, std::string displayName)
    : state_(std::make_shared<State>(State{main, capture, std::move(displayName)})) {}

X11CaptureSource::~X11CaptureSource() {
  state_->capture.post([state = state_] { state->endStream(); });
}

void X11CaptureSource::listDisplays(DisplaysCompletion done) {
  state_->capture.post([state = state_, done = std::move(done)]() mutable {
    std::optional<CaptureError> error;
    std::vector<Display> displays;
    if (auto connection = state->open()) {
      double scale = sessionPointScale(connection->get());
      for (const Monitor& monitor : listMonitors(connection->get()))
        displays.push_back({monitor.id, monitor.name, int64_t(monitor.bounds.width), int64_t(monitor.bounds.height),
                            monitor.primary, scale});
      if (connection->broken()) error = CaptureError::displayLost(), displays.clear();
    } else {
      error = state->unopenable();
    }
    state->main.post([done = std::move(done), error = std::move(error), displays = std::move(displays)]() mutable {
      done(std::move(error), std::move(displays));
    });
  });
}

void X11CaptureSource::startStream(DisplayID id, FrameSink frames, StopSink stopped, Completion done) {
  state_->capture.post([state = state_, id, frames = std::move(frames), stopped = std::move(stopped),
                        done = std::move(done)]() mutable {
    state->endStream();
    const uint64_t generation = state->generation;
    auto opened = CaptureStream::open(state->open(), id, std::move(frames));
    std::optional<CaptureError> error;
    if (auto* stream = std::get_if<std::unique_ptr<CaptureStream>>(&opened)) {
      state->stream = std::move(*stream);
      state->stopped = std::move(stopped);
      if (auto* queue = dynamic_cast<AsioExecutor*>(&state->capture)) {
        // Our own descriptor: asio closes it, Xlib keeps its own.
        state->serverWrote = std::make_unique<asio::posix::stream_descriptor>(queue->context(),
                                                                              ::dup(state->stream->descriptor()));
        awaitServer(state, generation);
      }
      scheduleTick(state, generation, state->capture.now());
    } else {
      error = std::get<CaptureError>(std::move(opened));
      if (error->code == CaptureError::Code::noPermission) error = state->unopenable();
    }
    state->main.post([done = std::move(done), error = std::move(error)]() mutable { done(std::move(error)); });
  });
}

void X11CaptureSource::scheduleTick(const std::shared_ptr<State>& state, uint64_t generation, TimePoint due) {
  Duration delay = std::max(Duration::zero(), due - state->capture.now());
  state->nextTick.schedule(state->capture, delay, [state, generation] { tick(state, generation); });
}

void X11CaptureSource::tick(const std::shared_ptr<State>& state, uint64_t generation) {
  if (state->generation != generation || !state->stream) return;
  const TimePoint started = state->capture.now();
  const uint64_t framesBefore = state->stream->framesDelivered();
  if (auto error = state->stream->tick()) {
    state->endStream();
    if (state->stopped) std::exchange(state->stopped, nullptr)(std::move(error));
    return;
  }
  if (state->stream->framesDelivered() != framesBefore) state->lastFrame = started;
  // Late ticks are not made up for: ticks stay an interval apart, and frames at least that.
  scheduleTick(state, generation, started + frameInterval);
}

void X11CaptureSource::awaitServer(const std::shared_ptr<State>& state, uint64_t generation) {
  state->serverWrote->async_wait(asio::posix::stream_descriptor::wait_read, [state, generation](std::error_code error) {
    if (error || state->generation != generation || !state->stream) return;
    state->stream->readEvents();
    const bool quiet = state->capture.now() - state->lastFrame >= frameInterval;
    if (state->stream->lost() || (quiet && state->stream->hasNews())) tick(state, generation);
    if (state->generation == generation) awaitServer(state, generation);
  });
}

void X11CaptureSource::stopStream(std::function<void()> done) {
  state_->capture.post([state = state_, done = std::move(done)]() mutable {
    state->endStream();
    state->stopped = nullptr;
    state->main.post(std::move(done));
  });
}

void X11CaptureSource::updateFilter(Completion done) {
  state_->main.post([done = std::move(done)] { done(std::nullopt); });
}

}  // namespace vistaro::x11
