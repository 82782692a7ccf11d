#include "input/paste_keystroke.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <array>
#include <string_view>

namespace vistaro {
namespace {

// Emulators whose class says "term" or "rxvt" are found by that; these are the others.
constexpr std::array<std::string_view, 16> kTerminals{
    "alacritty", "contour", "foot", "footclient", "guake", "hyper",     "kgx",         "kitty",
    "konsole",   "sakura",  "st",   "st-256color", "tabby", "tilda", "tilix", "yakuake"};

bool isTerminal(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  if (name.find("term") != std::string::npos || name.find("rxvt") != std::string::npos) return true;
  if (name == "org.gnome.console") return true;
  return std::find(kTerminals.begin(), kTerminals.end(), name) != kTerminals.end();
}

}  // namespace

PasteKeystroke pasteKeystrokeFor(const std::vector<std::string>& windowClassNames, CmdModifier cmd) {
  if (std::any_of(windowClassNames.begin(), windowClassNames.end(), isTerminal)) {
    return {XKB_KEY_Insert, kShift, true};
  }
  return {XKB_KEY_v, cmdModifiers(cmd), false};
}

}  // namespace vistaro
