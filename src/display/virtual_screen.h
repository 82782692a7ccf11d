#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/display_info.h"

namespace vistaro {

// A size for the desktop while it is fitted to a client, in points.
struct VirtualSize {
  int64_t width = 0;
  int64_t height = 0;
  bool hiDPI = false;  // two pixels per point, where the desktop can draw that way
  bool operator==(const VirtualSize&) const = default;
};

// The desktop's own screens switched to one display of a client's size, and back. On X11: the
// framebuffer takes the size, becomes the one RandR monitor, and every output shows it.
// Main executor; completions run on it too.
class VirtualScreen {
 public:
  using Done = std::function<void(std::optional<DisplayID> display, std::string error)>;

  virtual ~VirtualScreen() = default;
  // Pixels per point that the desktop draws with; a size in points is shown at that many pixels each.
  virtual double pixelsPerPoint() = 0;
  // Shows the whole desktop as one display of `widthPx` × `heightPx`, identified as the `serial`th;
  // `done` gets its ID, or what went wrong (and then nothing changed). The first switch saves what it
  // changes, on disk and before changing anything; another switch while on only changes the size.
  virtual void show(int64_t widthPx, int64_t heightPx, uint32_t serial, Done done) = 0;
  // Puts back exactly what the first switch saved, and forgets it; nothing when nothing is saved.
  virtual void restore() = 0;
  // At start: puts back what an earlier run saved and never restored (it died while switched).
  virtual void restoreLeftovers() = 0;
  // The pointer to the middle of that display; absent: of the main display.
  virtual void centreCursor(std::optional<DisplayID> display) = 0;
};

}  // namespace vistaro
