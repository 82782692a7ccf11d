// The fit rule: what the fit switch and the switch for both modes ask of the controller.
#include <gtest/gtest.h>

#include "ui/panel_actions.h"

namespace vistaro {
namespace {

struct RecordedSwitches final : ModeSwitches {
  std::vector<std::string> calls;
  void setPowerSaving(bool on) override { calls.push_back(on ? "powerSaving on" : "powerSaving off"); }
  void startFit() override { calls.push_back("startFit"); }
  void stopFit() override { calls.push_back("stopFit"); }
  void setFitOffQueued(bool queued) override { calls.push_back(queued ? "fitOffQueued" : "fitOffNotQueued"); }
};

TEST(FitRule, StartsOrStopsOnChangeOnlyQueuesWhileAFitOnIsStartingAndBothModesAddPowerSaving) {
  struct Case {
    bool fitStarting, fitting, requested;
    std::vector<std::string> fitCalls;
  };
  for (const Case& c : {Case{false, false, true, {"startFit"}}, Case{false, true, false, {"stopFit"}},
                        Case{false, true, true, {}}, Case{false, false, false, {}},
                        Case{true, false, false, {"fitOffQueued"}}, Case{true, false, true, {"fitOffNotQueued"}}}) {
    ControllerState state;
    state.fitStarting = c.fitStarting;
    state.fitting = c.fitting;
    RecordedSwitches fit, both;
    applyFitRule(c.requested, state, fit);
    applyBothModes(c.requested, state, both);
    std::vector<std::string> bothCalls = c.fitCalls;
    bothCalls.push_back(c.requested ? "powerSaving on" : "powerSaving off");
    EXPECT_EQ(std::tie(fit.calls, both.calls), std::tie(c.fitCalls, bothCalls))
        << c.fitStarting << c.fitting << c.requested;
  }
}

}  // namespace
}  // namespace vistaro
