#include "ui/panel_actions.h"

namespace vistaro {

void applyFitRule(bool on, const ControllerState& state, ModeSwitches& switches) {
  if (state.fitStarting) return switches.setFitOffQueued(!on);
  if (on == state.fitting) return;
  if (on) {
    switches.startFit();
  } else {
    switches.stopFit();
  }
}

void applyBothModes(bool on, const ControllerState& state, ModeSwitches& switches) {
  applyFitRule(on, state, switches);
  switches.setPowerSaving(on);
}

}  // namespace vistaro
