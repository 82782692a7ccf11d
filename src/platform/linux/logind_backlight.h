#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vistaro {

// A built-in panel's backlight (/sys/class/backlight), set through logind's session API, which
// lets the user of the session change it without root.
class LogindBacklight {
 public:
  // The device the kernel prefers (firmware, then platform, then raw); absent when there is none.
  static std::optional<LogindBacklight> find(const std::filesystem::path& root = "/sys/class/backlight");

  std::optional<float> level() const;
  void setLevel(float level);

 private:
  LogindBacklight(std::filesystem::path device, uint32_t maximum) : device_(std::move(device)), maximum_(maximum) {}

  std::filesystem::path device_;
  uint32_t maximum_;
  bool warned_ = false;
};

}  // namespace vistaro
