#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/stream_hub_port.h"
#include "capture/change_detecting_source.h"
#include "capture/frame_encoder.h"
#include "capture/screen_capturer.h"
#include "control/server_controller.h"
#include "control/settings_store.h"
#include "core/asio_executor.h"
#include "input/focus_tracker.h"
#include "input/injected_desktop_input.h"
#include "input/key_injector.h"
#include "platform/platform.h"
#include "reach/direct_agent.h"
#include "reach/relay_agent.h"
#include "server/relayed_peers.h"
#include "server/tls_listener_factory.h"

namespace vistaro {

struct HostOptions {
  std::string displayName;  // empty: $DISPLAY
  std::filesystem::path settingsFile = SettingsStore::defaultFile();
};

// The whole host: the platform's services and every component, built once and wired here.
// Constructed and destroyed on the main executor's thread.
class Host {
 public:
  // Throws std::runtime_error when the session has no display to share.
  Host(Executor& main, HostOptions options);
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
  AsioExecutor directQueue_{"velmora.direct"};
  AsioExecutor relayQueue_{"velmora.relay"};
  AsioExecutor recordsQueue_{"velmora.records"};  // the rendezvous store's calls, which block
  AsioExecutor focusQueue_{"velmora.focus"};  // the accessibility calls, which block
  AsioExecutor windowQueue_{"velmora.windows"};  // the window manager's, which may too

  SettingsStore settings_;
  Platform platform_;
  FrameEncoder encoder_;
  RelayedPeers relayedPeers_;
  TlsListenerFactory listeners_{hubQueue_, &relayedPeers_};
  ChangeDetectingSource changes_;
  ScreenCapturer capturer_;
  KeyInjector keys_;
  FocusTracker focus_;
  InjectedDesktopInput input_;
  std::shared_ptr<StreamHub> hub_;
  RelayAgent relay_;
  std::shared_ptr<DirectAgent> direct_;
  StreamHubPort hubPort_;
  std::shared_ptr<ServerController> controller_;
};

}  // namespace vistaro
