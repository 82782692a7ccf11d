#pragma once

#include "input/input_sources.h"
#include "platform/x11/x11_keyboard.h"

namespace vistaro::x11 {

// XKB groups as input sources: a group that types Latin letters is ASCII-capable.
class X11InputSources final : public InputSources {
 public:
  // Reads the keyboard's keymap, whichever connection it is on now.
  explicit X11InputSources(X11Keyboard& keyboard) : keyboard_(keyboard) {}

  std::optional<InputSourceState> current() override;
  std::optional<InputSourceID> asciiCapable() override;
  bool select(InputSourceID id) override;

 private:
  X11Keyboard& keyboard_;
};

}  // namespace vistaro::x11
