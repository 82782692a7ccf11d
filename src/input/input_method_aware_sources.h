#pragma once

#include <memory>

#include "input/input_method.h"
#include "input/input_sources.h"

namespace vistaro {

// The layouts as the key injector sees them while an input method may be converting: its
// engine mangles typed keys whatever the layout, and no layout switch turns it off, so then
// no source counts as typing Latin letters (and the text is pasted).
class InputMethodAwareSources final : public InputSources {
 public:
  InputMethodAwareSources(std::unique_ptr<InputSources> layouts, std::unique_ptr<InputMethod> method)
      : layouts_(std::move(layouts)), method_(std::move(method)) {}

  std::optional<InputSourceState> current() override;
  std::optional<InputSourceID> asciiCapable() override;
  bool select(InputSourceID id) override { return layouts_->select(id); }

 private:
  std::unique_ptr<InputSources> layouts_;
  std::unique_ptr<InputMethod> method_;
};

}  // namespace vistaro
