#include "control/settings_store.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "control/atomic_file.h"

namespace vistaro {

using nlohmann::json;

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) { load(); }

std::filesystem::path SettingsStore::defaultFile() {
  std::filesystem::path base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return base / "vistaro-host" / "settings.json";
}

void SettingsStore::load() {
  std::ifstream in(file_, std::ios::binary);
  if (!in) return;  // no file yet: every key has its default
  std::stringstream text;
  text << in.rdbuf();
  json parsed = json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_discarded() && parsed.is_object()) {
    values_ = std::move(parsed);
    return;
  }
  // Keep the user's file for inspection instead of overwriting it with defaults.
  const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
  const std::filesystem::path aside = file_.string() + ".corrupt-" + std::to_string(stamp);
  std::error_code error;
  std::filesystem::rename(file_, aside, error);
  loadProblem_ = error ? "settings file " + file_.string() + " is unreadable and could not be moved aside: " +
                             error.message()
                       : "settings file " + file_.string() + " was unreadable; kept as " + aside.string() +
                             ", starting with defaults";
  if (error) file_.clear();  // never write over a file we could not read
}

std::optional<std::string> SettingsStore::stringValue(const char* key) const {
  auto it = values_.find(key);
  if (it == values_.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<uint32_t> SettingsStore::displayID() const {
  auto it = values_.find("displayID");
  if (it == values_.end() || !it->is_number_integer()) return std::nullopt;
  if (it->is_number_unsigned()) {
    const auto value = it->get<uint64_t>();
    if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(value);
  }
  const auto value = it->get<int64_t>();
  if (value < 0 || value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<std::map<uint32_t, float>> SettingsStore::headlessSavedBrightness() const {
  auto it = values_.find("headlessSavedBrightness");
  if (it == values_.end() || !it->is_object()) return std::nullopt;
  std::map<uint32_t, float> levels;
  for (const auto& [key, value] : it->items()) {
    char* end = nullptr;
    const unsigned long long id = std::strtoull(key.c_str(), &end, 10);
    // Entries that cannot be a display or a level are skipped, not fatal.
    if (key.empty() || *end != '\0' || id > std::numeric_limits<uint32_t>::max() || !value.is_number()) continue;
    levels[static_cast<uint32_t>(id)] = value.get<float>();
  }
  return levels;
}

std::optional<json> SettingsStore::windowFramesBeforeFit() const {
  auto it = values_.find("windowFramesBeforeFit");
  if (it == values_.end() || it->is_null()) return std::nullopt;
  return *it;
}

std::optional<std::string> SettingsStore::setHeadlessSavedBrightness(
    const std::optional<std::map<uint32_t, float>>& levels) {
  if (!levels) return remove("headlessSavedBrightness");
  json object = json::object();
  for (const auto& [id, level] : *levels) object[std::to_string(id)] = level;
  return set("headlessSavedBrightness", std::move(object));
}

std::optional<std::string> SettingsStore::setWindowFramesBeforeFit(const std::optional<json>& frames) {
  if (!frames) return remove("windowFramesBeforeFit");
  return set("windowFramesBeforeFit", *frames);
}

std::optional<std::string> SettingsStore::set(const char* key, json value) {
  values_[key] = std::move(value);
  return write();
}

std::optional<std::string> SettingsStore::remove(const char* key) {
  if (values_.erase(key) == 0) return std::nullopt;
  return write();
}

std::optional<std::string> SettingsStore::write() {
  if (file_.empty()) return "settings are not saved: the settings file could not be moved aside";
  return writeFileAtomically(file_, values_.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

}  // namespace vistaro
