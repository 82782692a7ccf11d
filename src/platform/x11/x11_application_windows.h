#pragma once

#include <memory>
#include <string>

#include "platform/linux/application_windows.h"
#include "platform/x11/reopening_connection.h"

namespace vistaro::x11 {

// The window manager's client list (or, with no window manager, the root's children) read
// through a connection of its own, opened when first needed and again after a lost server.
class X11ApplicationWindows final : public ApplicationWindows {
 public:
  explicit X11ApplicationWindows(std::string displayName = {}) : connection_(std::move(displayName)) {}

  std::vector<ApplicationWindow> windowsOf(int32_t pid) override;

 private:
  ReopeningConnection connection_;
};

}  // namespace vistaro::x11
