#pragma once

#include <vector>

#include "input/keyboard.h"

namespace vistaro {

struct KeyTap {
  Keysym keysym;
  Modifiers modifiers;
  bool operator==(const KeyTap&) const = default;
};

class FakeKeyboard final : public Keyboard {
 public:
  void tap(Keysym keysym, Modifiers modifiers) override { taps.push_back({keysym, modifiers}); }
  std::vector<KeyTap> taps;
};

}  // namespace vistaro
