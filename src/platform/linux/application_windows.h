#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/geometry.h"

namespace vistaro {

// A top-level window of a running program, as the window system shows it.
struct ApplicationWindow {
  std::string title;
  std::string windowClass;  // X11: the WM_CLASS class ("Google-chrome")
  Rect content;             // global pixels, without the shadows a toolkit draws around itself
};

// The windows of the desktop's programs, for what accessibility alone cannot tell: where a
// toolkit that reports positions within its window has that window, and which program a
// process is. Used from one thread.
class ApplicationWindows {
 public:
  virtual ~ApplicationWindows() = default;
  // The mapped windows of the process; empty when it has none or they cannot be read.
  virtual std::vector<ApplicationWindow> windowsOf(int32_t pid) = 0;
};

}  // namespace vistaro
