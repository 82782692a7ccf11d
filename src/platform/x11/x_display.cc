#include "platform/x11/x_display.h"

#include <mutex>

#include "core/log.h"

namespace vistaro::x11 {
namespace {

int logXError(::Display* display, XErrorEvent* error) {
  char text[128] = {};
  XGetErrorText(display, error->error_code, text, sizeof text);
  logWarning("x11", "X error {} (request {}.{}, resource {:#x})", text, error->request_code, error->minor_code,
             error->resourceid);
  return 0;
}

}  // namespace

XDisplayPtr openXDisplay(const std::string& name) {
  installTolerantXErrorHandler();
  return XDisplayPtr(XOpenDisplay(name.empty() ? nullptr : name.c_str()));
}

void installTolerantXErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] { XSetErrorHandler(logXError); });
}

}  // namespace vistaro::x11
