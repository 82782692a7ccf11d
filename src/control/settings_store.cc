#include "control/settings_store.h"

#include <algorithm>
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

namespace {

// Far more than the host's own keys need; a file beyond either limit is not the host's.
constexpr std::uintmax_t kMaxFileBytes = 1 << 20;
constexpr int kMaxDepth = 32;

// Walks the text without building anything, so that a file nested deeper than any of ours
// never reaches the (recursive) parts of the JSON library.
class DepthCheck final : public json::json_sax_t {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return ++depth_ <= kMaxDepth; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return --depth_, true; }
  bool start_array(std::size_t) override { return ++depth_ <= kMaxDepth; }
  bool end_array() override { return --depth_, true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  int depth_ = 0;
};

std::optional<json> parseSettings(const std::string& text) {
  DepthCheck check;
  if (!json::sax_parse(text, &check)) return std::nullopt;
  json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
  return parsed;
}

// The host's own keys and the JSON type each must have; anything else is kept as it is.
bool hasExpectedType(const std::string& key, const json& value) {
  if (key == "pin" || key == "relayRoom" || key == "directID" || key == "cmdModifier") return value.is_string();
  if (key == "recordStore" || key == "recordLocation" || key == "recordCredentialsFile") return value.is_string();
  if (key == "stunServers") {
    return value.is_array() && std::all_of(value.begin(), value.end(), [](const json& v) { return v.is_string(); });
  }
  if (key == "displayID") return value.is_number_integer();
  if (key == "headlessSavedBrightness") return value.is_object();
  if (key == "windowFramesBeforeFit") return !value.is_null();
  return true;
}

std::filesystem::path asidePath(const std::filesystem::path& file) {
  const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
  return file.string() + ".corrupt-" + std::to_string(stamp);
}

}  // namespace

void SettingsStore::load() {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file_, error);
  if (error) return;  // no file yet: every key has its default
  std::optional<json> parsed;
  if (size <= kMaxFileBytes) {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    parsed = parseSettings(text.str());
  }
  if (!parsed) return setAside();
  values_ = std::move(*parsed);

  std::vector<std::string> wrong;
  for (const auto& [key, value] : values_.items()) {
    if (!hasExpectedType(key, value)) wrong.push_back(key);
  }
  if (wrong.empty()) return;
  // The user's value is kept in a copy before the default takes its place.
  const std::filesystem::path aside = asidePath(file_);
  std::filesystem::copy_file(file_, aside, error);
  std::string keys;
  for (const std::string& key : wrong) {
    keys += (keys.empty() ? "\"" : ", \"") + key + "\"";
    values_.erase(key);
  }
  loadProblem_ = "settings file " + file_.string() + ": " + keys + " had the wrong type and " +
                 (error ? "could not be copied aside (" + error.message() + ")" : "was kept in " + aside.string()) +
                 "; using the defaults for them";
}

void SettingsStore::setAside() {
  // Keep the user's file for inspection instead of overwriting it with defaults.
  const std::filesystem::path aside = asidePath(file_);
  std::error_code error;
  std::filesystem::rename(file_, aside, error);
  loadProblem_ = error ? "settings file " + file_.string() + " is unreadable and could not be moved aside: " +
                             error.message()
                       : "settings file " + file_.string() + " was unreadable; kept as " + aside.string() +
                             ", starting with defaults";
  if (error) file_.clear();  // never write over a file we could not read
}

std::optional<std::vector<std::string>> SettingsStore::stunServers() const {
  const auto found = values_.find("stunServers");
  if (found == values_.end() || !hasExpectedType("stunServers", *found)) return std::nullopt;
  return found->get<std::vector<std::string>>();
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

// One key per line for whoever reads it, each value compact: values written by someone else
// come back no larger than they were, however deeply they nest.
std::optional<std::string> SettingsStore::write() {
  if (file_.empty()) return "settings are not saved: the settings file could not be moved aside";
  std::string text = "{";
  for (const auto& [key, value] : values_.items()) {
    text += text.size() == 1 ? "\n  " : ",\n  ";
    text += json(key).dump() + ": " + value.dump(-1, ' ', false, json::error_handler_t::replace);
  }
  text += values_.empty() ? "}\n" : "\n}\n";
  return writeFileAtomically(file_, text);
}

}  // namespace vistaro
