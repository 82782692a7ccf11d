#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "capture/capture_source.h"
#include "control/controller_platform.h"
#include "core/executor.h"
#include "display/power_services.h"
#include "display/virtual_screen.h"
#include "display/window_service.h"
#include "input/accessibility.h"
#include "input/clipboard.h"
#include "input/focused_window.h"
#include "input/input_sources.h"
#include "input/keyboard.h"
#include "input/pointer_event.h"
#include "server/service_advertiser.h"

namespace vistaro {

// The services one desktop session offers the host, each behind the seam of its user.
// Members go in reverse order: the input sources may lean on the keyboard.
struct Platform {
  std::string kind;                              // "x11"
  std::unique_ptr<CaptureSource> capture;        // frames on the capture executor
  std::unique_ptr<PointerDevice> pointer;        // used on the hub's queue
  std::unique_ptr<Keyboard> keyboard;            // these on the main executor
  std::unique_ptr<InputSources> inputSources;
  std::unique_ptr<Clipboard> clipboard;
  std::unique_ptr<Clipboard> primarySelection;   // what terminals paste
  std::unique_ptr<FocusedWindow> focusedWindow;
  std::unique_ptr<ControllerPlatform> session;
  std::unique_ptr<ServiceAdvertiser> advertiser;  // DNS-SD, whatever draws the screen
  std::unique_ptr<Accessibility> accessibility;   // used on the focus queue
  std::unique_ptr<VirtualScreen> virtualScreen;   // main executor; absent: no fit mode here
  std::unique_ptr<WindowService> windows;         // used on the window fitter's queue
  PowerServices power;                            // main executor
};

struct PlatformOptions {
  Executor& main;
  Executor& capture;
  std::string displayName;  // empty: the session's own ($DISPLAY)
  std::filesystem::path stateDirectory;  // where what must survive a crash is kept (the settings' folder)
};

}  // namespace vistaro
