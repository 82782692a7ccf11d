#pragma once

#include <cstdint>
#include <optional>

#include "core/executor.h"
#include "input/key_modifiers.h"

namespace vistaro {

// An X keysym (the XKB value space: Latin-1 as itself, other characters as 0x01000000 | code point).
using Keysym = uint32_t;

// The desktop's keyboard as the key injector uses it.
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  // Presses and releases the key that produces the keysym while the modifiers are held, and
  // nothing else the desktop holds or has locked (Caps Lock types no capitals). The
  // implementation adds the level modifier (Shift) the layout needs and makes a key for
  // keysyms the layout lacks, so every keysym can be typed. Returns how long to wait before
  // asking again when such a key cannot be made yet (nothing is pressed then); never blocks.
  virtual std::optional<Duration> tap(Keysym keysym, Modifiers modifiers) = 0;
};

}  // namespace vistaro
