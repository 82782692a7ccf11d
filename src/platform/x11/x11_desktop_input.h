#pragma once

#include <string>

#include "core/executor.h"
#include "input/key_injector.h"
#include "input/pointer_injector.h"
#include "platform/x11/reconnecting_clipboard.h"
#include "platform/x11/x11_input_sources.h"
#include "platform/x11/x11_keyboard.h"
#include "platform/x11/x11_pointer.h"
#include "server/hub_input.h"

namespace vistaro::x11 {

// Pointer and keys of an X11 desktop, assembled: the pointer for the hub's queue, the
// keyboard, clipboard and input sources for the key injector on the main executor. Each
// opens the display again by itself when its server comes back after a loss.
class X11DesktopInput {
 public:
  X11DesktopInput(Executor& main, CmdModifier cmdModifier, const std::string& displayName = {});

  // Valid as long as this object; keep it beyond the hub.
  HubInput hubInput();
  KeyInjector& keys() { return keys_; }

 private:
  X11Pointer pointer_;
  X11Keyboard keyboard_;
  X11InputSources sources_;
  ReconnectingClipboard clipboard_;
  PointerInjector pointerInjector_;
  KeyInjector keys_;
};

}  // namespace vistaro::x11
