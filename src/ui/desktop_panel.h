#pragma once

#include <memory>

#include <QObject>

#include "control/state_publisher.h"
#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "ui/panel_actions.h"
#include "ui/panel_widget.h"

class QSystemTrayIcon;

namespace vistaro {

// The host on the desktop: a tray icon whose click opens the panel, or, where the session has
// no tray (a bare X session, Xvfb), the panel as a window of its own. Closing that window is
// quitting: nothing else would bring it back.
class DesktopPanel final : public QObject {
 public:
  // Main thread, with the QApplication made; observes the state for as long as the process runs.
  DesktopPanel(StatePublisher& state, PanelActions& actions);
  ~DesktopPanel() override;

  void start();
  bool inTray() const { return tray_ != nullptr; }
  PanelWidget& panel() { return *panel_; }

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void stateChanged();
  void togglePopup();
  void showIcon();

  PanelActions& actions_;
  std::unique_ptr<PanelWidget> panel_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  PanelSymbol symbol_ = PanelSymbol::phone;
  // A click on the tray icon first closes the open popup: that click must not open it again.
  TimePoint popupHidden_;
  LifetimeGuard guard_;  // for the state observer, which outlives us
};

}  // namespace vistaro
