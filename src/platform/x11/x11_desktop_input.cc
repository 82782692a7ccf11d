#include "platform/x11/x11_desktop_input.h"

#include "input/make_hub_input.h"

namespace vistaro::x11 {

X11DesktopInput::X11DesktopInput(Executor& main, CmdModifier cmdModifier, const std::string& displayName)
    : pointer_(displayName),
      keyboard_(main, displayName),
      sources_(keyboard_.keymap()),
      clipboard_(displayName),
      pointerInjector_([this] { return pointer_.usable() && keyboard_.usable(); },
                       [this](DisplayID id) { return pointer_.boundsOf(id); }, pointer_),
      keys_(main, keyboard_, clipboard_, sources_, cmdModifier) {}

HubInput X11DesktopInput::hubInput() { return makeHubInput(pointerInjector_, keys_); }

}  // namespace vistaro::x11
