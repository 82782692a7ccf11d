#include "platform/x11/x11_desktop_input.h"

#include "input/make_hub_input.h"

namespace vistaro::x11 {

X11DesktopInput::X11DesktopInput(Executor& main, CmdModifier cmdModifier, const std::string& displayName)
    : pointer_(displayName),
      keyboard_(main, displayName),
      sources_(keyboard_),
      clipboard_(displayName),
      // The pointer's own connection answers for the whole desktop: it lives on the hub's
      // queue, where the question is asked, and the keyboard on the main one.
      pointerInjector_([this] { return pointer_.usable(); },
                       [this](DisplayID id) { return pointer_.boundsOf(id); }, pointer_),
      keys_(main, keyboard_, clipboard_, sources_, cmdModifier) {}

HubInput X11DesktopInput::hubInput() { return makeHubInput(pointerInjector_, keys_); }

}  // namespace vistaro::x11
