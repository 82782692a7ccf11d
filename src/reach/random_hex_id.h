#pragma once

#include <string>
#include <string_view>

namespace vistaro {

// 32 lowercase hexadecimal digits from 16 random bytes: the host's relay room and direct ID.
std::string randomHexID();
// Of that form: 32 characters, each a digit or a lowercase letter from a to f.
bool isHexID(std::string_view text);

}  // namespace vistaro
