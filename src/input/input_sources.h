#pragma once

#include <cstdint>
#include <optional>

namespace vistaro {

using InputSourceID = uint32_t;

struct InputSourceState {
  InputSourceID id = 0;
  std::optional<bool> asciiCapable;  // absent when it cannot be told
};

// The keyboard input sources (layouts) the user switches between.
class InputSources {
 public:
  virtual ~InputSources() = default;
  virtual std::optional<InputSourceState> current() = 0;
  // A source that types Latin letters, if there is one.
  virtual std::optional<InputSourceID> asciiCapable() = 0;
  // True when the source is now selected.
  virtual bool select(InputSourceID id) = 0;
};

}  // namespace vistaro
