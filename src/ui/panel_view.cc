#include "ui/panel_view.h"

#include <fmt/printf.h>

#include "core/l10n.h"

namespace vistaro {

PanelView panelView(const ControllerState& state, const std::vector<std::string>& addresses, bool launchAtLogin) {
  PanelView view;
  view.trayIcon = state.clientNames.empty() ? PanelSymbol::phone : PanelSymbol::phoneStreaming;
  if (state.capturing) {
    view.statusColour = StatusColour::red;
    view.statusText = localized("配信中");
  } else {
    view.statusColour = state.port ? StatusColour::green : StatusColour::orange;
    view.statusText = state.listenerStatus;
  }
  view.directStatus = state.directStatus;
  view.showScreenBox = !state.hasPermission;
  view.showInputBox = !state.hasInputPermission;
  view.pin = state.pin;
  view.clients = state.clientNames;

  for (const DisplayInfo& display : state.displays) {
    if (display.id == state.selectedDisplayID) view.selectedDisplay = static_cast<int>(view.displays.size());
    view.displays.push_back({display.id, fmt::sprintf(localized("%s（%lld×%lld）"), display.name,
                                                      static_cast<long long>(display.width),
                                                      static_cast<long long>(display.height))});
  }
  if (view.displays.size() >= 2) {
    view.displayRow = PanelView::DisplayRow::picker;
  } else if (view.displays.size() == 1) {
    view.displayRow = PanelView::DisplayRow::value;
  }

  const std::string port = state.port ? std::to_string(*state.port) : "-";
  for (const std::string& address : addresses) view.manualAddresses.push_back(address + ":" + port);
  view.error = state.lastError;
  view.bothOn = state.powerSaving && state.fitting;
  view.powerSaving = state.powerSaving;
  view.fitting = state.fitting;
  view.launchAtLogin = launchAtLogin;
  return view;
}

}  // namespace vistaro
