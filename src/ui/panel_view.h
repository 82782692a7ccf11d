#pragma once

#include <optional>
#include <string>
#include <vector>

#include "control/controller_state.h"

namespace vistaro {

// The panel's symbols; the toolkit maps them to icon names.
enum class PanelSymbol { phone, phoneStreaming, directPath, warning, pointer };

enum class StatusColour { red, green, orange };

struct DisplayChoice {
  DisplayID id = 0;
  std::string text;  // name（width×height）
  bool operator==(const DisplayChoice&) const = default;
};

// Everything the panel shows, row by row, as the controller's state says it: the
// panel draws this and nothing else.
struct PanelView {
  PanelSymbol trayIcon = PanelSymbol::phone;
  StatusColour statusColour = StatusColour::orange;
  std::string statusText;
  std::string directStatus;
  bool showScreenBox = false;
  bool showInputBox = false;
  std::string pin;
  std::vector<std::string> clients;  // empty: the "none" text
  enum class DisplayRow { none, value, picker } displayRow = DisplayRow::none;
  std::vector<DisplayChoice> displays;
  int selectedDisplay = -1;  // index into displays; -1: none of them
  std::vector<std::string> manualAddresses;  // address:port, or address:- before the port is known
  std::optional<std::string> error;
  bool bothOn = false;
  bool powerSaving = false;
  bool fitting = false;
  bool launchAtLogin = false;
};

PanelView panelView(const ControllerState& state, const std::vector<std::string>& addresses, bool launchAtLogin);

}  // namespace vistaro
