#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/display_info.h"
#include "core/geometry.h"

namespace vistaro {

// An application window as the window fitter sees it. Frames include the window manager's decorations,
// in root pixels (origin top-left of the screen, y downwards).
struct DesktopWindow {
  uint64_t id = 0;          // stable while the window exists
  std::string application;  // what the window's program is known by (on X11 the WM_CLASS class); may be empty
  std::string title;        // may be empty
  Rect frame;
  bool operator==(const DesktopWindow&) const = default;
};

// The windows of the desktop that the user arranges. Used on the window fitter's queue only; every call
// may block briefly on the display server and must not hang on a busy program.
class WindowService {
 public:
  virtual ~WindowService() = default;
  // The fittable windows in the window manager's order (oldest first): normal windows, shown, not
  // minimised or full screen, on the current desktop, whose frame can be read.
  virtual std::vector<DesktopWindow> windows() = 0;
  // The window with the keyboard focus, if it is one the user arranges.
  virtual std::optional<uint64_t> activeWindow() = 0;
  // The part of that display that windows may use: its bounds without panels and docks. Absent when
  // there is no such display.
  virtual std::optional<Rect> workArea(DisplayID display) = 0;
  // Asks the window manager to give the window this frame; it may refuse part of it (size hints).
  virtual void setFrame(uint64_t window, const Rect& frame) = 0;
  virtual void setPosition(uint64_t window, Point origin) = 0;
  // Absent when the window is gone or its frame cannot be read.
  virtual std::optional<Rect> frame(uint64_t window) = 0;
  // False only when the window is known to be gone.
  virtual bool exists(uint64_t window) = 0;
  // `switched` runs on the main executor whenever the current desktop (workspace) changes.
  virtual void observeDesktopSwitches(std::function<void()> switched) = 0;
};

}  // namespace vistaro
