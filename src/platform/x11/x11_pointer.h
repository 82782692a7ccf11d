#pragma once

#include <optional>
#include <string>

#include "core/geometry.h"
#include "input/click_sequencer.h"
#include "input/pointer_event.h"
#include "input/wheel_accumulator.h"
#include "platform/x11/locked_modifiers.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// The desktop's pointer through XTest, in root-window pixels. Wheel events are made
// from scroll pixels: vertical on buttons 4 (up) and 5 (down), horizontal on 6 (left)
// and 7 (right). Presses follow the client's click count as the ClickSequencer plans them;
// its waits are the X server's own (XTest delays), so posting never blocks, and the events
// go on a connection of their own that makes no round trips while the server holds it back.
// Locked modifiers are lifted around a click. Its connections are opened again when their
// server comes back after a loss; use it from one thread at a time.
class X11Pointer final : public PointerDevice {
 public:
  explicit X11Pointer(const std::string& displayName = {});

  // Trusted to inject: the server is there and offers XTest.
  bool usable() override;
  // The RandR monitor's bounds, by the monitor IDs the capturer uses.
  std::optional<Rect> boundsOf(DisplayID id) override;

  void post(const PointerEvent& event) override;

  // One wheel event never turns into more presses than this, whatever distance it claims.
  static constexpr int64_t kMaxClicksPerEvent = 60;

 private:
  void connect();
  void moveTo(Point point, Duration delay = {});
  void press(const PointerEvent& event, unsigned button);
  void clickWheel(int64_t clicks, unsigned positiveButton, unsigned negativeButton);

  std::string displayName_;
  std::unique_ptr<Connection> connection_;  // queries
  std::unique_ptr<Connection> events_;      // XTest events only
  ClickSequencer clicks_;
  std::optional<LockedModifiersLifted> lifted_;  // from a press to its release
  bool hasXTest_ = false;
  ReconnectPacer reconnect_;
  WheelAccumulator vertical_;
  WheelAccumulator horizontal_;
};

}  // namespace vistaro::x11
