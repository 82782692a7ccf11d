#include "input/input_method_aware_sources.h"

namespace vistaro {

std::optional<InputSourceState> InputMethodAwareSources::current() {
  std::optional<InputSourceState> layout = layouts_->current();
  if (!method_->convertsKeys()) return layout;
  return InputSourceState{layout ? layout->id : 0, false};
}

std::optional<InputSourceID> InputMethodAwareSources::asciiCapable() {
  if (method_->convertsKeys()) return std::nullopt;
  return layouts_->asciiCapable();
}

}  // namespace vistaro
