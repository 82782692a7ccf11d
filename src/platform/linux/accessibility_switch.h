#pragma once

#include <optional>
#include <string>

namespace vistaro {

// Turns the desktop session's accessibility on (org.a11y.Status IsEnabled of the session bus's
// org.a11y.Bus, which toolkits follow; the bus launcher also keeps it in the desktop's
// toolkit-accessibility setting) and makes sure its accessibility bus answers. Blocks for
// the D-Bus calls. Absent when all is well, else what is missing.
std::optional<std::string> turnOnSessionAccessibility();

}  // namespace vistaro
