#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vistaro {

// Where the brightness of dimmed displays is kept, so that a host that died while they were dark
// can bring them back at its next start. Absent: nothing is kept (no power saving was left on).
class SavedBrightness {
 public:
  virtual ~SavedBrightness() = default;
  virtual std::optional<std::map<uint32_t, float>> load() = 0;
  // Absent removes the record. Returns the write error's text, absent on success.
  virtual std::optional<std::string> store(const std::optional<std::map<uint32_t, float>>& levels) = 0;
};

}  // namespace vistaro
