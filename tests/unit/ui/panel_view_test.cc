// The panel's rows from the controller's state (texts in the host's own wording: no catalogue here).
#include <gtest/gtest.h>

#include "ui/panel_view.h"

namespace vistaro {
namespace {

ControllerState idle() {
  ControllerState state;
  state.hasPermission = state.hasInputPermission = true;
  state.listenerStatus = "待受中";
  state.port = 52525;
  return state;
}

// Idle and listening: green with the listener's text; streaming: red "配信中" whatever the listener says.
TEST(PanelView, HeaderBoxesAndIconFollowTheStateAndTheClients) {
  ControllerState state = idle();
  state.hasInputPermission = false;
  PanelView view = panelView(state, {}, false);
  EXPECT_EQ(std::tuple(view.statusColour, view.statusText, view.showScreenBox, view.showInputBox, view.trayIcon),
            std::tuple(StatusColour::green, "待受中", false, true, PanelSymbol::phone));
  state.hasPermission = false;
  state.hasInputPermission = true;
  state.clientNames = {"Aya's iPhone", "iPad"};
  state.capturing = true;
  state.port.reset();
  view = panelView(state, {}, false);
  EXPECT_EQ(std::tuple(view.statusColour, view.statusText, view.showScreenBox, view.showInputBox, view.trayIcon),
            std::tuple(StatusColour::red, "配信中", true, false, PanelSymbol::phoneStreaming));
  EXPECT_EQ(view.clients, state.clientNames);
}

TEST(PanelView, DisplayRowIsAPickerForSeveralAValueForOneAndAbsentForNone) {
  const DisplayInfo builtIn{7, "Built-in", 1512, 982}, tv{9, "HDMI-1", 1920, 1080};
  const std::vector<DisplayChoice> both{{7, "Built-in（1512×982）"}, {9, "HDMI-1（1920×1080）"}};
  struct Case {
    std::vector<DisplayInfo> displays;
    DisplayID selected;
    PanelView::DisplayRow row;
    std::vector<DisplayChoice> choices;
    int index;
  };
  for (const Case& c : {Case{{}, 0, PanelView::DisplayRow::none, {}, -1},
                        Case{{builtIn}, 7, PanelView::DisplayRow::value, {both[0]}, 0},
                        Case{{builtIn, tv}, 9, PanelView::DisplayRow::picker, both, 1},
                        Case{{builtIn, tv}, 4, PanelView::DisplayRow::picker, both, -1}}) {
    ControllerState state = idle();
    state.displays = c.displays;
    state.selectedDisplayID = c.selected;
    const PanelView view = panelView(state, {}, false);
    EXPECT_EQ(std::tie(view.displayRow, view.displays, view.selectedDisplay), std::tie(c.row, c.choices, c.index))
        << c.displays.size() << " displays";
  }
}

TEST(PanelView, AddressesCarryThePortOrADashUntilItListensAndBothModesShowOnlyWhenBothAreOn) {
  ControllerState state = idle();
  state.powerSaving = true;
  EXPECT_EQ(panelView(state, {"192.168.1.20", "10.0.0.5"}, false).manualAddresses,
            (std::vector<std::string>{"192.168.1.20:52525", "10.0.0.5:52525"}));
  EXPECT_FALSE(panelView(state, {}, false).bothOn);
  state.port.reset();
  state.fitting = true;
  const PanelView view = panelView(state, {"192.168.1.20"}, false);
  EXPECT_EQ(std::tuple(view.manualAddresses, view.bothOn, view.statusColour),
            std::tuple(std::vector<std::string>{"192.168.1.20:-"}, true, StatusColour::orange));  // not listening yet
}

}  // namespace
}  // namespace vistaro
