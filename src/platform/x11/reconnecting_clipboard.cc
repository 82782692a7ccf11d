#include "platform/x11/reconnecting_clipboard.h"

namespace vistaro::x11 {

ReconnectingClipboard::ReconnectingClipboard(std::string displayName, std::string selection)
    : displayName_(std::move(displayName)),
      selection_(std::move(selection)),
      clipboard_(std::make_unique<X11Clipboard>(displayName_, selection_)) {
  reconnect_.connected();
}

X11Clipboard& ReconnectingClipboard::current() {
  if (clipboard_->lost() && reconnect_.due()) {
    countBefore_ += clipboard_->changeCount() + 1;
    clipboard_.reset();
    clipboard_ = std::make_unique<X11Clipboard>(displayName_, selection_);
  }
  return *clipboard_;
}

}  // namespace vistaro::x11
