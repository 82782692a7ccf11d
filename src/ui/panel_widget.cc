#include "ui/panel_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/l10n.h"
#include "ui/panel_icons.h"

namespace vistaro {
namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }
QString localText(const char* literal) { return text(localized(literal)); }

QFont scaled(QFont font, double factor, QFont::Weight weight = QFont::Normal) {
  font.setPointSizeF(font.pointSizeF() * factor);
  font.setWeight(weight);
  return font;
}

QLabel* label(const QString& content, const QFont& font, const char* name = nullptr) {
  auto* widget = new QLabel(content);
  // Names and error texts come from clients and the system: never read as markup.
  widget->setTextFormat(Qt::PlainText);
  widget->setFont(font);
  widget->setWordWrap(true);
  if (name) widget->setObjectName(name);
  return widget;
}

QLabel* secondary(QLabel* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
  widget->setPalette(palette);
  return widget;
}

QWidget* iconLabel(PanelSymbol symbol, QLabel* textLabel, int iconSize) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  auto* icon = new QLabel;
  icon->setPixmap(panelIcon(symbol).pixmap(iconSize, iconSize));
  layout->addWidget(icon, 0, Qt::AlignTop);
  layout->addWidget(textLabel, 1);
  return row;
}

QVBoxLayout* section(QVBoxLayout* parent, int spacing) {
  auto* layout = new QVBoxLayout;
  layout->setSpacing(spacing);
  parent->addLayout(layout);
  return layout;
}

QPushButton* button(const QString& title, const char* name, std::function<void()> pressed) {
  auto* widget = new QPushButton(title);
  widget->setObjectName(name);
  QObject::connect(widget, &QPushButton::clicked, widget, [pressed = std::move(pressed)] { pressed(); });
  return widget;
}

QCheckBox* toggle(const QString& title, const char* name, bool on, std::function<void(bool)> switched) {
  auto* widget = new QCheckBox(title);
  widget->setObjectName(name);
  widget->setChecked(on);
  QObject::connect(widget, &QCheckBox::clicked, widget, [switched = std::move(switched)](bool value) { switched(value); });
  return widget;
}

struct BoxStyle {
  const char* name;
  QColor colour;
  double opacity;
  PanelSymbol symbol;
};

// A permission box: what is missing, what to do, and two buttons.
QFrame* permissionBox(const BoxStyle& style, const QFont& base, const QString& title, const QString& body,
                      QPushButton* first, QPushButton* second) {
  auto* box = new QFrame;
  box->setObjectName(style.name);
  const QColor fill(style.colour.red(), style.colour.green(), style.colour.blue(), int(style.opacity * 255));
  box->setStyleSheet(QStringLiteral("QFrame#%1 { background-color: %2; border-radius: 8px; }")
                         .arg(style.name, fill.name(QColor::HexArgb)));
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(8);
  QLabel* heading = label(title, scaled(base, 1.0, QFont::DemiBold));
  heading->setStyleSheet(QStringLiteral("color: %1;").arg(style.colour.name()));
  layout->addWidget(iconLabel(style.symbol, heading, 16));
  layout->addWidget(label(body, scaled(base, 0.85)));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(first);
  buttons->addWidget(second);
  buttons->addStretch();
  layout->addLayout(buttons);
  return box;
}

QColor colourOf(StatusColour colour) {
  switch (colour) {
    case StatusColour::red: return QColor(0xff, 0x3b, 0x30);
    case StatusColour::green: return QColor(0x34, 0xc7, 0x59);
    case StatusColour::orange: return QColor(0xff, 0x95, 0x00);
  }
  return {};
}

}  // namespace

PanelWidget::PanelWidget(PanelActions& actions, QWidget* parent) : QWidget(parent), actions_(actions) {
  outer_ = new QVBoxLayout(this);
  outer_->setContentsMargins(0, 0, 0, 0);
  setFixedWidth(kWidth);
  rebuild();
}

void PanelWidget::refresh() {
  if (std::exchange(refreshPending_, true)) return;
  QTimer::singleShot(0, this, [this] {
    refreshPending_ = false;
    rebuild();
  });
}

void PanelWidget::rebuild() {
  view_ = panelView(actions_.state(), actions_.localAddresses(), actions_.launchAtLogin());
  QWidget* next = build();
  if (content_) {
    outer_->removeWidget(content_);
    content_->hide();
    content_->deleteLater();
  }
  content_ = next;
  outer_->addWidget(content_);
  // Wrapped texts need the height for this width; a window's size hint leaves them cut.
  const int height = content_->heightForWidth(kWidth);
  setFixedHeight(height > 0 ? height : content_->sizeHint().height());
}

QWidget* PanelWidget::build() {
  PanelActions& actions = actions_;
  const PanelView& view = view_;
  const QFont base = font();
  const QFont caption = scaled(base, 0.85);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPointSizeF(base.pointSizeF());

  auto* content = new QWidget;
  auto* rows = new QVBoxLayout(content);
  rows->setContentsMargins(16, 16, 16, 16);
  rows->setSpacing(14);

  auto* header = new QHBoxLayout;
  header->addWidget(label(QStringLiteral("Vistaro"), scaled(base, 1.15, QFont::Bold)));
  header->addStretch();
  auto* circle = new QLabel;
  circle->setObjectName("statusCircle");
  circle->setFixedSize(8, 8);
  circle->setStyleSheet(QStringLiteral("background-color: %1; border-radius: 4px;").arg(colourOf(view.statusColour).name()));
  header->addWidget(circle);
  QLabel* status = secondary(label(text(view.statusText), caption, "status"));
  status->setWordWrap(false);
  header->addWidget(status);
  rows->addLayout(header);

  rows->addWidget(iconLabel(PanelSymbol::directPath, secondary(label(text(view.directStatus), caption, "directStatus")), 14));

  if (view.showScreenBox) {
    rows->addWidget(permissionBox(
        {"screenPermission", QColor(0xff, 0x95, 0x00), 0.12, PanelSymbol::warning}, base, localText("画面収録の許可が必要です"),
        localText("システム設定 › プライバシーとセキュリティ › 画面とシステムオーディオ収録 で「Vistaro Host」をオンにし、アプリを再起動してください。"),
        button(localText("許可をリクエスト"), "requestScreenRecording", [&actions] { actions.requestScreenRecording(); }),
        button(localText("再起動"), "relaunch", [&actions] { actions.relaunch(); })));
  }
  if (view.showInputBox) {
    rows->addWidget(permissionBox(
        {"inputPermission", QColor(0x00, 0x7a, 0xff), 0.1, PanelSymbol::pointer}, base, localText("iPhoneから操作するには許可が必要"),
        localText("システム設定 › プライバシーとセキュリティ › アクセシビリティ で「Vistaro Host」をオンにしてください（見るだけなら不要）。"),
        button(localText("設定を開く"), "requestAccessibility", [&actions] { actions.requestAccessibility(); }),
        button(localText("再確認"), "recheckPermissions", [&actions] { actions.recheckPermissions(); })));
  }

  QVBoxLayout* pin = section(rows, 4);
  pin->addWidget(secondary(label(localText("PIN（iPhoneで入力）"), caption)));
  auto* pinRow = new QHBoxLayout;
  QFont pinFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  pinFont.setPixelSize(30);
  pinFont.setWeight(QFont::DemiBold);
  QLabel* pinText = label(text(view.pin), pinFont, "pin");
  pinText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  pinRow->addWidget(pinText, 0, Qt::AlignBaseline);
  pinRow->addStretch();
  pinRow->addWidget(button(localText("再生成"), "regeneratePin", [&actions] { actions.regeneratePin(); }));
  pin->addLayout(pinRow);

  QVBoxLayout* clients = section(rows, 4);
  clients->addWidget(secondary(label(localText("接続中の端末"), caption)));
  if (view.clients.empty()) clients->addWidget(secondary(label(localText("なし"), base, "noClients")));
  for (const std::string& name : view.clients) {
    clients->addWidget(iconLabel(PanelSymbol::phone, label(text(name), base, "client"), 16));
  }

  if (view.displayRow != PanelView::DisplayRow::none) {
    auto* row = new QHBoxLayout;
    row->addWidget(label(localText("ディスプレイ"), base));
    if (view.displayRow == PanelView::DisplayRow::picker) {
      auto* picker = new QComboBox;
      picker->setObjectName("displayPicker");
      for (const DisplayChoice& choice : view.displays) picker->addItem(text(choice.text), QVariant::fromValue(choice.id));
      picker->setCurrentIndex(view.selectedDisplay);
      QObject::connect(picker, &QComboBox::activated, picker, [&actions, picker](int index) {
        actions.selectDisplay(picker->itemData(index).value<DisplayID>());
      });
      row->addWidget(picker, 1);
    } else {
      row->addStretch();
      row->addWidget(label(text(view.displays.front().text), base, "display"));
    }
    rows->addLayout(row);
  }

  QVBoxLayout* manual = section(rows, 4);
  manual->addWidget(secondary(label(localText("手動接続用アドレス"), caption)));
  for (const std::string& address : view.manualAddresses) {
    QLabel* line = label(text(address), mono, "address");
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    manual->addWidget(line);
  }

  if (view.error) {
    QLabel* error = label(text(*view.error), caption, "error");
    error->setStyleSheet(QStringLiteral("color: #ff3b30;"));
    rows->addWidget(error);
  }

  auto* divider = new QFrame;
  divider->setFrameShape(QFrame::HLine);
  divider->setFrameShadow(QFrame::Sunken);
  rows->addWidget(divider);

  QVBoxLayout* modes = section(rows, 4);
  QCheckBox* both = toggle(localText("両方まとめてオン"), "bothModes", view.bothOn,
                           [&actions](bool on) { applyBothModes(on, actions.state(), actions); });
  both->setFont(scaled(base, 1.0, QFont::DemiBold));
  modes->addWidget(both);
  modes->addWidget(toggle(localText("省電力（画面を暗くして隠す）"), "powerSaving", view.powerSaving,
                          [&actions](bool on) { actions.setPowerSaving(on); }));
  modes->addWidget(toggle(localText("画面を iPhone/iPad に合わせる"), "fitting", view.fitting,
                          [&actions](bool on) { applyFitRule(on, actions.state(), actions); }));
  modes->addWidget(secondary(label(
      localText("省電力は画面を最低の明るさにして黒い幕で覆います（iPhoneには映りません・ロックはかかりません）。どちらもMacのキーボードかマウスに触れるとすぐ元に戻ります。"),
      caption)));

  rows->addWidget(toggle(localText("ログイン時に起動"), "launchAtLogin", view.launchAtLogin,
                         [&actions](bool on) { actions.setLaunchAtLogin(on); }));

  auto* quitRow = new QHBoxLayout;
  quitRow->addStretch();
  quitRow->addWidget(button(localText("終了"), "quit", [&actions] { actions.quit(); }));
  rows->addLayout(quitRow);

  // Whatever a switch did shows at once, also what the controller does not publish.
  for (QAbstractButton* control : content->findChildren<QAbstractButton*>()) {
    QObject::connect(control, &QAbstractButton::clicked, this, [this] { refresh(); });
  }
  return content;
}

}  // namespace vistaro
