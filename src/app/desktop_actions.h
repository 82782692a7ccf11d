#pragma once

#include <functional>

#include "control/server_controller.h"
#include "platform/linux/autostart_entry.h"
#include "ui/panel_actions.h"

namespace vistaro {

// The panel's actions on this desktop: the controller's operations, the XDG autostart entry
// as the login item, a relaunch of our own executable, the desktop's accessibility settings.
class DesktopActions final : public PanelActions {
 public:
  // `quit` ends the process the way a signal does: the desktop put back first.
  DesktopActions(ServerController& controller, AutostartEntry loginItem, std::function<void()> quit);

  const ControllerState& state() const override { return controller_.state().current(); }
  bool launchAtLogin() const override { return launchAtLogin_; }
  std::vector<std::string> localAddresses() const override;

  void regeneratePin() override { controller_.regeneratePin(); }
  void selectDisplay(DisplayID display) override { controller_.selectDisplay(display); }
  void setPowerSaving(bool on) override { controller_.setPowerSaving(on); }
  void startFit() override { controller_.startFit(); }
  void stopFit() override { controller_.stopFit(); }
  void setFitOffQueued(bool queued) override { controller_.setFitOffQueued(queued); }
  void setLaunchAtLogin(bool on) override;
  void recheckPermissions() override { controller_.recheckPermissions(); }
  // The X display is the permission: there is nothing to ask for, only to look again.
  void requestScreenRecording() override { controller_.recheckPermissions(); }
  void requestAccessibility() override;
  void relaunch() override;
  void quit() override { quit_(); }

 private:
  ServerController& controller_;
  AutostartEntry loginItem_;
  // What the user chose last, even when writing it failed (the panel shows the error beside it).
  bool launchAtLogin_;
  std::function<void()> quit_;
};

}  // namespace vistaro
