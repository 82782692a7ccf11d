#pragma once

#include "control/settings_store.h"
#include "display/stored_window_frames.h"

namespace vistaro {

// The window frames to put back under the settings' "windowFramesBeforeFit": a list of
// {"bundleID", "title", "index", "frame": [[x, y], [width, height]]}.
class StoredWindowFramesRecord final : public StoredWindowFrames {
 public:
  explicit StoredWindowFramesRecord(SettingsStore& settings) : settings_(settings) {}
  std::optional<std::vector<StoredFrame>> load() override;
  std::optional<std::string> store(const std::optional<std::vector<StoredFrame>>& frames) override;

 private:
  SettingsStore& settings_;
};

}  // namespace vistaro
