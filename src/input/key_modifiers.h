#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vistaro {

// Modifier keys held around one key press, as the desktop knows them.
enum Modifier : uint8_t {
  kShift = 1 << 0,
  kControl = 1 << 1,
  kAlt = 1 << 2,
  kSuper = 1 << 3,
};
using Modifiers = uint8_t;

// Which desktop modifier the client's shortcut key "cmd" stands for (setting `cmdModifier`).
enum class CmdModifier { ctrl, super };

// The client's modifier names ("cmd", "opt", "ctrl", "shift"); others are ignored, repeats are harmless.
Modifiers modifiersFromNames(const std::vector<std::string>& names, CmdModifier cmd);
// True when the names are "ctrl" alone (repeats allowed) and nothing else that counts.
bool namesAreControlAlone(const std::vector<std::string>& names);
// The modifier the paste shortcut (the client's cmd+v) is pressed with.
Modifiers cmdModifiers(CmdModifier cmd);

}  // namespace vistaro
