#pragma once

namespace vistaro {

// Opens the desktop's own accessibility settings (GNOME, KDE Plasma, Xfce, MATE), where the
// accessibility bus is switched on; false where the session has none we know.
bool openAccessibilitySettings();

}  // namespace vistaro
