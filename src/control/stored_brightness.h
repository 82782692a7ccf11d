#pragma once

#include "control/settings_store.h"
#include "display/saved_brightness.h"

namespace vistaro {

// The dimmed displays' levels under the settings' "headlessSavedBrightness".
class StoredBrightness final : public SavedBrightness {
 public:
  explicit StoredBrightness(SettingsStore& settings) : settings_(settings) {}
  std::optional<std::map<uint32_t, float>> load() override { return settings_.headlessSavedBrightness(); }
  std::optional<std::string> store(const std::optional<std::map<uint32_t, float>>& levels) override {
    return settings_.setHeadlessSavedBrightness(levels);
  }

 private:
  SettingsStore& settings_;
};

}  // namespace vistaro
