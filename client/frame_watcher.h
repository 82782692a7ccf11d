#pragma once

#include <deque>
#include <functional>
#include <string>

#include "client/layer_images.h"
#include "client/watch_command.h"
#include "core/executor.h"

namespace vistaro::client {

// Pulls frames for "watch": two requests outstanding (the most credit a host
// keeps), one more for every frame received, so the host is never left idle
// waiting for the client and never has a frame queued for it.
class FrameWatcher {
 public:
  using SendRequest = std::function<void(const RequestMessage&)>;
  using Print = std::function<void(const std::string&)>;

  FrameWatcher(const Executor& clock, WatchCommand command, SendRequest send, Print print);

  // Once welcomed. Later welcomes (a host sends one whenever its displays change) open no more requests:
  // the host keeps at most two credits, and the ones beyond would be lost.
  void start();
  // A frame body from the host: applied to the layers, one line printed, the next request sent.
  void onFrame(const Bytes& body);
  // All the frames asked for have come.
  bool finished() const { return command_.frames && received_ >= *command_.frames; }
  // Writes base.ppm and detail.ppm (the layers held) into the output folder, if one was given.
  bool writeLayers() const;

  const LayerImages& layers() const { return layers_; }

 private:
  void requestOne();
  std::string describe(const FrameMessage& message, size_t bytes, bool applied);

  const Executor& clock_;
  WatchCommand command_;
  SendRequest send_;
  Print print_;
  LayerImages layers_;
  std::deque<TimePoint> requestTimes_;  // outstanding requests, oldest first
  bool started_ = false;
  int64_t requested_ = 0;
  int64_t received_ = 0;
};

}  // namespace vistaro::client
