#pragma once

#include <cstdint>

#include "input/key_modifiers.h"

namespace vistaro {

// An X keysym (the XKB value space: Latin-1 as itself, other characters as 0x01000000 | code point).
using Keysym = uint32_t;

// The desktop's keyboard as the key injector uses it.
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  // Presses and releases the key that produces the keysym while the modifiers are held. The
  // implementation adds the level modifier (Shift) the layout needs and makes a key for
  // keysyms the layout lacks, so every keysym can be typed.
  virtual void tap(Keysym keysym, Modifiers modifiers) = 0;
};

}  // namespace vistaro
