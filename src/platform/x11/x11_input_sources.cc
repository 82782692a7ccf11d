#include "platform/x11/x11_input_sources.h"

namespace vistaro::x11 {

std::optional<InputSourceState> X11InputSources::current() {
  keymap_.refreshIfChanged();
  std::optional<uint32_t> group = keymap_.currentGroup();
  if (!group) return std::nullopt;
  return InputSourceState{*group, keymap_.groupTypesLatin(*group)};
}

std::optional<InputSourceID> X11InputSources::asciiCapable() {
  keymap_.refreshIfChanged();
  for (uint32_t group = 0; group < keymap_.groupCount(); ++group) {
    if (keymap_.groupTypesLatin(group)) return group;
  }
  return std::nullopt;
}

bool X11InputSources::select(InputSourceID id) { return keymap_.lockGroup(id); }

}  // namespace vistaro::x11
