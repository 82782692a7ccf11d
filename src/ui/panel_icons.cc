#include "ui/panel_icons.h"

static void initPanelIconResources() { Q_INIT_RESOURCE(panel_icons); }

namespace vistaro {

QString iconName(PanelSymbol symbol) {
  switch (symbol) {
    case PanelSymbol::phone: return QStringLiteral("phone");
    // No freedesktop name says "a phone is watching": ours is installed into the hicolor theme.
    case PanelSymbol::phoneStreaming: return QStringLiteral("vistaro-phone-streaming");
    case PanelSymbol::directPath: return QStringLiteral("folder-remote");
    case PanelSymbol::warning: return QStringLiteral("dialog-warning");
    case PanelSymbol::pointer: return QStringLiteral("input-mouse");
  }
  return {};
}

QIcon panelIcon(PanelSymbol symbol) {
  static const bool loaded = (initPanelIconResources(), true);
  (void)loaded;
  const QString name = iconName(symbol);
  return QIcon::fromTheme(name, QIcon(QStringLiteral(":/vistaro/icons/%1.svg").arg(name)));
}

}  // namespace vistaro
