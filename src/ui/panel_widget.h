#pragma once

#include <QWidget>

#include "ui/panel_actions.h"
#include "ui/panel_view.h"

class QVBoxLayout;

namespace vistaro {

// The panel: rows built afresh from the state whenever it changes, so it keeps nothing of
// its own. A rebuild waits for the event loop: a switch that changes the state is not
// destroyed inside its own signal.
class PanelWidget final : public QWidget {
 public:
  static constexpr int kWidth = 300;

  explicit PanelWidget(PanelActions& actions, QWidget* parent = nullptr);

  // Asks for a rebuild from the latest state.
  void refresh();
  // Rebuilds now.
  void rebuild();

 private:
  QWidget* build();

  PanelActions& actions_;
  QVBoxLayout* outer_;
  QWidget* content_ = nullptr;
  PanelView view_;
  bool refreshPending_ = false;
};

}  // namespace vistaro
