#pragma once

#include <string>
#include <vector>

namespace vistaro {

// The window that receives the keys, as far as choosing the paste keystroke goes.
class FocusedWindow {
 public:
  virtual ~FocusedWindow() = default;
  // Its application's class names (X11 WM_CLASS: instance, then class); empty when unknown.
  virtual std::vector<std::string> classNames() = 0;
};

}  // namespace vistaro
