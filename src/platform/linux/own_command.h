#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vistaro {

// This very program: our executable (/proc/self/exe) and the arguments it was started with, the
// name it was called by left out. Empty when /proc does not say.
std::vector<std::string> ownCommand();

// Starts a new instance of this program with our arguments, sharing none of our files or
// sockets. The error's text when it could not be started.
std::optional<std::string> startNewInstance();

}  // namespace vistaro
