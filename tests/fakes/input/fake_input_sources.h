#pragma once

#include <vector>

#include "input/input_sources.h"

namespace vistaro {

// Source 0 types Latin letters, source 1 is an input method that does not.
class FakeInputSources final : public InputSources {
 public:
  std::optional<InputSourceState> current() override {
    return InputSourceState{selected, selected == kLatin};
  }
  std::optional<InputSourceID> asciiCapable() override {
    if (!hasLatin) return std::nullopt;
    return kLatin;
  }
  bool select(InputSourceID id) override {
    selections.push_back(id);
    if (!selectWorks) return false;
    selected = id;
    return true;
  }

  static constexpr InputSourceID kLatin = 0;
  static constexpr InputSourceID kInputMethod = 1;
  InputSourceID selected = kLatin;
  bool hasLatin = true;
  bool selectWorks = true;
  std::vector<InputSourceID> selections;
};

}  // namespace vistaro
