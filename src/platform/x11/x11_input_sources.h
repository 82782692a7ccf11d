#pragma once

#include "input/input_sources.h"
#include "platform/x11/x11_keymap.h"

namespace vistaro::x11 {

// XKB groups as input sources: a group that types Latin letters is ASCII-capable.
class X11InputSources final : public InputSources {
 public:
  explicit X11InputSources(X11Keymap& keymap) : keymap_(keymap) {}

  std::optional<InputSourceState> current() override;
  std::optional<InputSourceID> asciiCapable() override;
  bool select(InputSourceID id) override;

 private:
  X11Keymap& keymap_;
};

}  // namespace vistaro::x11
