#pragma once

#include <memory>
#include <string>

#include "capture/capture_source.h"
#include "core/executor.h"

namespace vistaro::x11 {

// Screen capture of an X11 session: each RandR monitor is a display, grabbed through
// MIT-SHM at most 20 times a second and only after damage or pointer motion; damage after a
// quiet spell is grabbed as soon as it is announced. Every X call
// runs on the capture executor, so a slow or vanished server never holds up the main one.
// Opening the display is the permission to capture it.
class X11CaptureSource final : public CaptureSource {
 public:
  static constexpr Duration frameInterval = std::chrono::milliseconds(50);

  // An empty display name means $DISPLAY.
  X11CaptureSource(Executor& main, Executor& capture, std::string displayName = {});
  ~X11CaptureSource() override;

  void listDisplays(DisplaysCompletion done) override;
  void startStream(DisplayID id, FrameSink frames, StopSink stopped, Completion done) override;
  void stopStream(std::function<void()> done) override;
  // The root window is grabbed as the server composes it: no window can be left out, so
  // there is nothing to rebuild.
  void updateFilter(Completion done) override;

 private:
  struct State;
  static void scheduleTick(const std::shared_ptr<State>& state, uint64_t generation, TimePoint due);
  static void tick(const std::shared_ptr<State>& state, uint64_t generation);
  static void awaitServer(const std::shared_ptr<State>& state, uint64_t generation);

  // Shared with the tasks on the capture executor, which may outlive this object.
  std::shared_ptr<State> state_;
};

}  // namespace vistaro::x11
