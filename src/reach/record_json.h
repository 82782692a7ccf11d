#pragma once

#include <optional>
#include <string>

#include "reach/record_store.h"

namespace vistaro {

// A record as the stores keep it: one JSON object of strings, "at" as seconds since 1970.
// Absent when the text is no such object; fields of other types are left out.
std::optional<Record> recordFromJson(const std::string& text);
std::string recordToJson(const Record& record);

}  // namespace vistaro
