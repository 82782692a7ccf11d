#include "capture/capture_error.h"

#include "core/l10n.h"

namespace vistaro {

CaptureError CaptureError::noDisplay() {
  return {Code::noDisplay, localized("キャプチャできるディスプレイがありません")};
}

CaptureError CaptureError::displayLost() {
  return {Code::displayLost, localized("ディスプレイサーバーとの接続が切れました")};
}

CaptureError CaptureError::noPermission() { return {Code::noPermission, localized("画面収録の許可が必要です")}; }

}  // namespace vistaro
