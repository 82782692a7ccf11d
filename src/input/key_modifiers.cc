#include "input/key_modifiers.h"

namespace vistaro {

Modifiers cmdModifiers(CmdModifier cmd) { return cmd == CmdModifier::super ? kSuper : kControl; }

Modifiers modifiersFromNames(const std::vector<std::string>& names, CmdModifier cmd) {
  Modifiers result = 0;
  for (const std::string& name : names) {
    if (name == "cmd") result |= cmdModifiers(cmd);
    if (name == "opt") result |= kAlt;
    if (name == "ctrl") result |= kControl;
    if (name == "shift") result |= kShift;
  }
  return result;
}

bool namesAreControlAlone(const std::vector<std::string>& names) {
  bool control = false;
  for (const std::string& name : names) {
    if (name == "ctrl") {
      control = true;
    } else if (name == "cmd" || name == "opt" || name == "shift") {
      return false;
    }
  }
  return control;
}

}  // namespace vistaro
