#include "platform/x11/x11_platform.h"

#include "input/input_method_aware_sources.h"
#include "platform/linux/dbus_input_method.h"
#include "platform/x11/randr_virtual_screen.h"
#include "platform/x11/reconnecting_clipboard.h"
#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_controller_platform.h"
#include "platform/x11/x11_focused_window.h"
#include "platform/x11/x11_input_sources.h"
#include "platform/x11/x11_keyboard.h"
#include "platform/x11/x11_pointer.h"
#include "platform/x11/x11_power_services.h"
#include "platform/x11/x11_window_service.h"

namespace vistaro::x11 {

Platform makeX11Platform(const PlatformOptions& options) {
  Platform platform;
  platform.kind = "x11";
  platform.capture = std::make_unique<X11CaptureSource>(options.main, options.capture, options.displayName);
  platform.pointer = std::make_unique<X11Pointer>(options.displayName);
  auto keyboard = std::make_unique<X11Keyboard>(options.main, options.displayName);
  platform.inputSources = std::make_unique<InputMethodAwareSources>(std::make_unique<X11InputSources>(*keyboard),
                                                                    std::make_unique<DbusInputMethod>(options.displayName));
  platform.keyboard = std::move(keyboard);
  platform.clipboard = std::make_unique<ReconnectingClipboard>(options.displayName);
  platform.primarySelection = std::make_unique<ReconnectingClipboard>(options.displayName, "PRIMARY");
  platform.focusedWindow = std::make_unique<X11FocusedWindow>(options.displayName);
  platform.session = std::make_unique<X11ControllerPlatform>(options.main, options.displayName);
  platform.power = makeX11PowerServices(options.main, options.displayName);
  platform.virtualScreen = std::make_unique<RandrVirtualScreen>(options.main, options.displayName,
                                                                options.stateDirectory / "screens-before-fit.json");
  platform.windows = std::make_unique<X11WindowService>(options.main, options.displayName);
  return platform;
}

}  // namespace vistaro::x11
