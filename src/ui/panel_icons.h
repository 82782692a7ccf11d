#pragma once

#include <QIcon>
#include <QString>

#include "ui/panel_view.h"

namespace vistaro {

// The desktop theme's icon for a symbol, or the one we ship where the theme has none.
QString iconName(PanelSymbol symbol);
QIcon panelIcon(PanelSymbol symbol);

}  // namespace vistaro
