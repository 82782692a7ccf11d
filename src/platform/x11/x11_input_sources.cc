#include "platform/x11/x11_input_sources.h"

namespace vistaro::x11 {

std::optional<InputSourceState> X11InputSources::current() {
  X11Keymap& keymap = keyboard_.keymap();
  keymap.refreshIfChanged();
  std::optional<uint32_t> group = keymap.currentGroup();
  if (!group) return std::nullopt;
  return InputSourceState{*group, keymap.groupTypesLatin(*group)};
}

std::optional<InputSourceID> X11InputSources::asciiCapable() {
  X11Keymap& keymap = keyboard_.keymap();
  keymap.refreshIfChanged();
  for (uint32_t group = 0; group < keymap.groupCount(); ++group) {
    if (keymap.groupTypesLatin(group)) return group;
  }
  return std::nullopt;
}

bool X11InputSources::select(InputSourceID id) { return keyboard_.keymap().lockGroup(id); }

}  // namespace vistaro::x11
