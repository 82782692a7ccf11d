#pragma once

#include <string>
#include <vector>

#include "control/controller_state.h"

namespace vistaro {

// The display-mode switches, as the fit rule uses them.
class ModeSwitches {
 public:
  virtual ~ModeSwitches() = default;

  virtual void setPowerSaving(bool on) = 0;
  virtual void startFit() = 0;
  virtual void stopFit() = 0;
  // Taken up once the fit-on under way is done: true turns fit mode off again.
  virtual void setFitOffQueued(bool queued) = 0;
};

// What the panel reads and what its buttons and switches do; all on the main thread.
class PanelActions : public ModeSwitches {
 public:

  virtual const ControllerState& state() const = 0;
  virtual bool launchAtLogin() const = 0;
  // Looked up afresh each time the panel is drawn.
  virtual std::vector<std::string> localAddresses() const = 0;

  virtual void regeneratePin() = 0;
  virtual void selectDisplay(DisplayID display) = 0;
  virtual void setLaunchAtLogin(bool on) = 0;
  // Reads both permissions again (also each time the panel opens).
  virtual void recheckPermissions() = 0;
  virtual void requestScreenRecording() = 0;
  virtual void requestAccessibility() = 0;
  virtual void relaunch() = 0;
  virtual void quit() = 0;
};

// The fit switch asked to show `on`: a fit-on under way only learns what to do once it is done.
void applyFitRule(bool on, const ControllerState& state, ModeSwitches& switches);
// The switch for both modes at once.
void applyBothModes(bool on, const ControllerState& state, ModeSwitches& switches);

}  // namespace vistaro
