#include "reach/record_json.h"

#include <nlohmann/json.hpp>

namespace vistaro {

std::optional<Record> recordFromJson(const std::string& text) {
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return std::nullopt;
  Record record;
  for (const auto& [key, value] : parsed.items()) {
    if (value.is_string()) record.strings[key] = value.get<std::string>();
  }
  const auto at = parsed.find("at");
  if (at != parsed.end() && at->is_number() && std::abs(at->get<double>()) < 1e11) {
    record.at = WallClock::time_point(
        std::chrono::duration_cast<WallClock::duration>(std::chrono::duration<double>(at->get<double>())));
  }
  return record;
}

std::string recordToJson(const Record& record) {
  nlohmann::json object = nlohmann::json::object();
  for (const auto& [key, value] : record.strings) object[key] = value;
  if (record.at) object["at"] = std::chrono::duration<double>(record.at->time_since_epoch()).count();
  return object.dump();
}

}  // namespace vistaro
