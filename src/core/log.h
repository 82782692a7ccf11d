#pragma once

#include <fmt/format.h>

#include <string_view>

namespace vistaro {

enum class LogLevel { debug, info, warning, error };

// To the systemd journal (identifier "vistaro-host", field CATEGORY) when one
// is running, else to stderr.
void logMessage(LogLevel level, std::string_view category, std::string_view message);

template <typename... Args>
void logInfo(std::string_view category, fmt::format_string<Args...> format, Args&&... args) {
  logMessage(LogLevel::info, category, fmt::format(format, std::forward<Args>(args)...));
}
template <typename... Args>
void logWarning(std::string_view category, fmt::format_string<Args...> format, Args&&... args) {
  logMessage(LogLevel::warning, category, fmt::format(format, std::forward<Args>(args)...));
}
template <typename... Args>
void logError(std::string_view category, fmt::format_string<Args...> format, Args&&... args) {
  logMessage(LogLevel::error, category, fmt::format(format, std::forward<Args>(args)...));
}

}  // namespace vistaro
