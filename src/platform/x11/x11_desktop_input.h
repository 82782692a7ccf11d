#pragma once

#include <string>

#include "core/executor.h"
#include "input/key_injector.h"
#include "input/pointer_injector.h"
#include "platform/x11/x11_clipboard.h"
#include "platform/x11/x11_input_sources.h"
#include "platform/x11/x11_keyboard.h"
#include "platform/x11/x11_pointer.h"
#include "server/hub_input.h"

namespace vistaro::x11 {

// Pointer and keys of an X11 desktop, assembled: the pointer for the hub's queue, the
// keyboard, clipboard and input sources for the key injector on the main executor.
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
  X11Clipboard clipboard_;
  PointerInjector pointerInjector_;
  KeyInjector keys_;
};

}  // namespace vistaro::x11
