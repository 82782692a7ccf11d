#pragma once

#include <string>

namespace vistaro {

// User texts are looked up with the Japanese literal as the key; without a
// translation the literal itself is shown.
std::string localized(const char* literal);

// Binds the message catalogue; called once at start-up, before any lookup.
void initLocalization(const std::string& localeDirectory);

}  // namespace vistaro
