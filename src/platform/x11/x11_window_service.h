#pragma once

#include <string>

#include "display/window_service.h"
#include "platform/x11/reopening_connection.h"
#include "platform/x11/window_properties.h"
#include "platform/x11/x11_desktop_switches.h"

namespace vistaro::x11 {

// The desktop's windows through the window manager's EWMH hints: its client list, window types,
// states and desktops, frame extents and struts; frames are moved by asking the window manager
// (_NET_MOVERESIZE_WINDOW), or directly when none runs. Windows of this process are never offered.
// Its own connection, used from one queue at a time; created and destroyed on the main executor's
// thread, where desktop switches are reported.
class X11WindowService final : public WindowService {
 public:
  // How long a frame request waits for the window manager to carry it out: a busy one takes
  // longer than the tenth of a second it usually needs.
  static constexpr Duration kApplyPatience = std::chrono::milliseconds(250);

  X11WindowService(Executor& main, std::string displayName);

  std::vector<DesktopWindow> windows() override;
  std::optional<uint64_t> activeWindow() override;
  std::optional<Rect> workArea(DisplayID display) override;
  void setFrame(uint64_t window, const Rect& frame) override;
  void setPosition(uint64_t window, Point origin) override;
  std::optional<Rect> frame(uint64_t window) override;
  bool exists(uint64_t window) override;
  void observeDesktopSwitches(std::function<void()> switched) override { switches_.observe(std::move(switched)); }

 private:
  // Moves (and with `resize`, sizes) the window's frame and waits a little for the result.
  void place(WindowID window, const Rect& frame, bool resize);

  ReopeningConnection connection_;
  X11DesktopSwitches switches_;
};

}  // namespace vistaro::x11
