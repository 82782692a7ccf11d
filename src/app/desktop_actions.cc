#include "app/desktop_actions.h"

#include "core/l10n.h"
#include "core/log.h"
#include "platform/linux/desktop_settings.h"
#include "platform/linux/local_addresses.h"
#include "platform/linux/own_command.h"

namespace vistaro {

DesktopActions::DesktopActions(ServerController& controller, AutostartEntry loginItem, std::function<void()> quit)
    : controller_(controller), loginItem_(std::move(loginItem)), launchAtLogin_(loginItem_.exists()),
      quit_(std::move(quit)) {}

std::vector<std::string> DesktopActions::localAddresses() const { return vistaro::localAddresses(); }

void DesktopActions::setLaunchAtLogin(bool on) {
  launchAtLogin_ = on;
  // The session starts the program itself, on its own display: no arguments of this run.
  std::vector<std::string> command = ownCommand();
  command.resize(std::min<size_t>(command.size(), 1));
  if (const std::optional<std::string> error = loginItem_.set(on, command)) {
    controller_.showError(localized("ログイン項目の設定に失敗: ") + *error);
  }
}

void DesktopActions::requestAccessibility() {
  if (!openAccessibilitySettings()) logWarning("app", "this desktop has no accessibility settings we know how to open");
  controller_.recheckPermissions();
}

void DesktopActions::relaunch() {
  // Only once the new host runs does this one go: a failed start must not leave nothing behind.
  if (const std::optional<std::string> error = startNewInstance()) {
    return controller_.showError(localized("再起動に失敗: ") + *error);
  }
  quit_();
}

}  // namespace vistaro
