#pragma once

#include <string>

namespace vistaro {

// Why a capture operation failed or a stream ended. The description is the user's text.
struct CaptureError {
  enum class Code {
    noDisplay,     // nothing can be captured
    noPermission,  // the session refuses us (on X11: the display cannot be opened)
    displayLost,   // the display server went away; it may come back
    platform,      // anything else the platform reports
  };
  Code code = Code::platform;
  std::string description;

  static CaptureError noDisplay();
  static CaptureError noPermission();
  static CaptureError displayLost();
  static CaptureError platform(std::string description) { return {Code::platform, std::move(description)}; }

  bool operator==(const CaptureError&) const = default;
};

}  // namespace vistaro
