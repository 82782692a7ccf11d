#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/display_info.h"

namespace vistaro {

// What the controller asks of the desktop session itself.
class ControllerPlatform {
 public:
  virtual ~ControllerPlatform() = default;

  // The computer's name for the welcome and DNS-SD; empty when it has none.
  virtual std::string hostName() = 0;
  // Screen capture is allowed (on X11: the display opens). Never prompts.
  virtual bool hasScreenCapturePermission() = 0;
  // Input can be injected (on X11: XTest is there). Never prompts.
  virtual bool isInputTrusted() = 0;
  // Tells the user that input injection needs their action.
  virtual void promptForInputPermission() = 0;
  virtual std::optional<DisplayID> mainDisplayID() = 0;
  // Called on the main executor whenever the screen layout changes.
  virtual void observeScreenChanges(std::function<void()> changed) = 0;
  // Uniform in [0, bound), from a cryptographic source.
  virtual uint32_t randomBelow(uint32_t bound) = 0;
};

}  // namespace vistaro
