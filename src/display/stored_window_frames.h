#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/geometry.h"

namespace vistaro {

// Where a window was before fit mode, in a form that outlives the process: a later run finds the
// window again by its application and title, or by its place among that application's windows.
struct StoredFrame {
  std::string bundleID;  // the application (on X11 the WM_CLASS class)
  std::string title;
  int64_t index = 0;
  Rect frame;
  bool operator==(const StoredFrame&) const = default;
};

// The frames to put back should the host die during fit mode. Main executor.
class StoredWindowFrames {
 public:
  virtual ~StoredWindowFrames() = default;
  // Absent: nothing to put back. Present but empty also when what was kept cannot be read.
  virtual std::optional<std::vector<StoredFrame>> load() = 0;
  // Absent removes the record. Returns the write error's text, absent on success.
  virtual std::optional<std::string> store(const std::optional<std::vector<StoredFrame>>& frames) = 0;
};

}  // namespace vistaro
