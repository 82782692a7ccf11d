#pragma once

#include <cstdint>
#include <optional>

namespace vistaro {

// org.freedesktop.ScreenSaver on the session bus (GNOME, KDE, Xfce and others answer it): while
// held, the desktop neither blanks nor locks the screens for idleness.
class ScreenSaverInhibit {
 public:
  ~ScreenSaverInhibit() { release(); }
  void hold();
  void release();

 private:
  std::optional<uint32_t> cookie_;
  bool warned_ = false;
};

}  // namespace vistaro
