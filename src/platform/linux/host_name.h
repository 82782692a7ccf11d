#pragma once

#include <string>

namespace vistaro {

// The computer's name as the system knows it; empty when it has none.
std::string hostName();

}  // namespace vistaro
