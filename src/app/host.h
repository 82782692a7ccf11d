#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "capture/frame_encoder.h"
#include "capture/screen_capturer.h"
#include "control/server_controller.h"
#include "control/settings_store.h"
#include "control/stream_hub_port.h"
#include "core/asio_executor.h"
#include "platform/linux/avahi_service_advertiser.h"
#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_controller_platform.h"
#include "platform/x11/x11_desktop_input.h"
#include "server/tls_listener_factory.h"

namespace vistaro {

struct HostOptions {
  std::string displayName;  // empty: $DISPLAY
  std::filesystem::path settingsFile = SettingsStore::defaultFile();
};

// The whole host on an X11 session: every component built once, wired, started.
// Constructed and destroyed on the main executor's thread.
class Host {
 public:
  Host(AsioExecutor& main, HostOptions options);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  ServerController& controller() { return *controller_; }

 private:
  // Declared first so that they outlive every component that posts to them;
  // the destructor stops them before the components go.
  AsioExecutor hubQueue_{"velmora.hub"};
  AsioExecutor encodeQueue_{"velmora.encode"};
  AsioExecutor captureQueue_{"velmora.capture"};

  SettingsStore settings_;
  FrameEncoder encoder_;
  TlsListenerFactory listeners_{hubQueue_};
  AvahiServiceAdvertiser advertiser_;
  x11::X11DesktopInput desktopInput_;
  x11::X11CaptureSource captureSource_;
  ScreenCapturer capturer_;
  std::shared_ptr<StreamHub> hub_;
  StreamHubPort hubPort_;
  x11::X11ControllerPlatform platform_;
  std::shared_ptr<ServerController> controller_;
};

}  // namespace vistaro
