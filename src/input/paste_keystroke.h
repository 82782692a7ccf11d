#pragma once

#include <string>
#include <vector>

#include "input/key_modifiers.h"
#include "input/keyboard.h"

namespace vistaro {

// The keys that paste in the focused application. Terminal emulators take Control+V as a
// character of their own; Shift+Insert pastes in every one of them (xterm, VTE, Konsole,
// Alacritty, kitty, rxvt, st, ...), but from the primary selection.
struct PasteKeystroke {
  Keysym keysym;
  Modifiers modifiers;
  bool fromPrimary;  // the text must be in the primary selection too
  bool operator==(const PasteKeystroke&) const = default;
};

PasteKeystroke pasteKeystrokeFor(const std::vector<std::string>& windowClassNames, CmdModifier cmd);

}  // namespace vistaro
