#pragma once

#include <memory>
#include <string>
#include <vector>

#include "input/focused_window.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// The window that gets the keys: the input focus, or the window under the pointer while the
// focus is the root (no window manager) — and the WM_CLASS of the application it is part of.
// Own connection, opened again when its server comes back after a loss; one thread.
class X11FocusedWindow final : public FocusedWindow {
 public:
  explicit X11FocusedWindow(std::string displayName = {});

  std::vector<std::string> classNames() override;

 private:
  std::string displayName_;
  std::unique_ptr<Connection> connection_;
  ReconnectPacer reconnect_;
};

}  // namespace vistaro::x11
