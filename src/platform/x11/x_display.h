#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace vistaro::x11 {

struct XDisplayCloser {
  void operator()(::Display* display) const { XCloseDisplay(display); }
};
// One connection to the X server, confined to the thread that uses it.
using XDisplayPtr = std::unique_ptr<::Display, XDisplayCloser>;

// Opens a connection to the named display (empty = $DISPLAY); null when there is none.
XDisplayPtr openXDisplay(const std::string& name = {});

// Xlib's default error handler ends the process, and windows of other clients vanish
// at any time (a requestor of the clipboard, a keymap change in flight): log instead.
void installTolerantXErrorHandler();

}  // namespace vistaro::x11
