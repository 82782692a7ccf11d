#include "ui/desktop_panel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>

#include "ui/panel_icons.h"

namespace vistaro {

DesktopPanel::DesktopPanel(StatePublisher& state, PanelActions& actions)
    : actions_(actions), panel_(std::make_unique<PanelWidget>(actions)) {
  panel_->installEventFilter(this);
  state.observe(guard_.wrap([this](const ControllerState&) { stateChanged(); }));
}

DesktopPanel::~DesktopPanel() { panel_->removeEventFilter(this); }

void DesktopPanel::start() {
  symbol_ = panelView(actions_.state(), {}, false).trayIcon;
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setToolTip(QStringLiteral("Vistaro Host"));
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) togglePopup();
    });
    // A popup closes when the user clicks elsewhere, as a panel under a tray icon does.
    panel_->setWindowFlags(Qt::Popup);
    showIcon();
    tray_->show();
    return;
  }
  panel_->setWindowTitle(QStringLiteral("Vistaro Host"));
  showIcon();
  panel_->show();
}

void DesktopPanel::stateChanged() {
  panel_->refresh();
  const PanelSymbol now = panelView(actions_.state(), {}, false).trayIcon;
  if (now == symbol_) return;
  symbol_ = now;
  showIcon();
}

void DesktopPanel::showIcon() {
  const QIcon icon = panelIcon(symbol_);
  if (tray_) tray_->setIcon(icon);
  panel_->setWindowIcon(icon);
}

void DesktopPanel::togglePopup() {
  if (panel_->isVisible()) return panel_->hide();
  if (Clock::now() - popupHidden_ < std::chrono::milliseconds(300)) return;
  panel_->rebuild();
  panel_->adjustSize();
  // Under the icon where the tray says where it is, else where the click was; on the screen.
  QRect anchor = tray_->geometry();
  if (!anchor.isValid()) anchor = QRect(QCursor::pos(), QSize(1, 1));
  const QScreen* screen = QGuiApplication::screenAt(anchor.center());
  const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), panel_->size());
  QPoint at(anchor.center().x() - panel_->width() / 2, anchor.bottom() + 4);
  if (at.y() + panel_->height() > area.bottom()) at.setY(anchor.top() - 4 - panel_->height());
  at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - panel_->width())));
  at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - panel_->height())));
  panel_->move(at);
  panel_->show();
}

bool DesktopPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched != panel_.get()) return false;
  // Permissions granted meanwhile show as soon as the panel is opened again.
  if (event->type() == QEvent::Show) actions_.recheckPermissions();
  if (event->type() == QEvent::Hide) popupHidden_ = Clock::now();
  if (event->type() == QEvent::Close && !tray_) {
    event->ignore();
    actions_.quit();
    return true;
  }
  return false;
}

}  // namespace vistaro
