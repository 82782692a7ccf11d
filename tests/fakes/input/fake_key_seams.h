#pragma once

#include <string>
#include <vector>

#include "input/clipboard.h"
#include "input/focused_window.h"
#include "input/input_sources.h"
#include "input/keyboard.h"

namespace vistaro::testing {

struct KeyTap {
  Keysym keysym;
  Modifiers modifiers;
  bool operator==(const KeyTap&) const = default;
};

class FakeKeyboard final : public Keyboard {
 public:
  std::optional<Duration> tap(Keysym keysym, Modifiers modifiers) override {
    taps.push_back({keysym, modifiers});
    return std::nullopt;
  }
  std::vector<KeyTap> taps;
};

class FakeClipboard final : public Clipboard {
 public:
  std::optional<ClipboardContents> copyContents() override {
    return copyable ? std::optional(contents) : std::nullopt;
  }
  void writeConcealedText(std::string_view text) override { replaceContents({{"concealed", std::string(text)}}); }
  uint64_t changeCount() override { return count; }
  void replaceContents(const ClipboardContents& replacement) override {
    contents = replacement;
    ++count;
  }
  ClipboardContents contents;
  uint64_t count = 0;
  bool copyable = true;
};

class FakeFocusedWindow final : public FocusedWindow {
 public:
  std::vector<std::string> classNames() override { return names; }
  std::vector<std::string> names;
};

// Source 0 types Latin letters, source 1 is an input method that does not.
class FakeInputSources final : public InputSources {
 public:
  static constexpr InputSourceID kLatin = 0, kInputMethod = 1;
  InputSourceID selected = kLatin;
  bool hasLatin = true;
  bool selectWorks = true;

  std::optional<InputSourceState> current() override { return InputSourceState{selected, selected == kLatin}; }
  std::optional<InputSourceID> asciiCapable() override { return hasLatin ? std::optional(kLatin) : std::nullopt; }
  bool select(InputSourceID id) override {
    if (selectWorks) selected = id;
    return selectWorks;
  }
};

}  // namespace vistaro::testing
