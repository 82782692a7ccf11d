#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vistaro {

// The login item: an XDG autostart entry that starts the host with each desktop session.
class AutostartEntry {
 public:
  // $XDG_CONFIG_HOME/autostart/vistaro-host.desktop, ~/.config/… without it.
  static std::filesystem::path defaultFile();

  explicit AutostartEntry(std::filesystem::path file = defaultFile()) : file_(std::move(file)) {}

  bool exists() const;
  // Writes the entry (whole, never half) to start `command`, or removes it. The error's text on failure.
  std::optional<std::string> set(bool on, const std::vector<std::string>& command) const;

  // The entry's text; absent for a command no Exec line can hold (a line break in it).
  static std::optional<std::string> contents(const std::vector<std::string>& command);

 private:
  std::filesystem::path file_;
};

}  // namespace vistaro
