#pragma once

#include <memory>
#include <string>

#include "input/clipboard.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_clipboard.h"

namespace vistaro::x11 {

// A selection (CLIPBOARD or PRIMARY) of a display that may go away and come back: once the
// server is lost, the next use after the pacer's interval opens a new one (thread, window and all).
class ReconnectingClipboard final : public Clipboard {
 public:
  explicit ReconnectingClipboard(std::string displayName, std::string selection = "CLIPBOARD");

  std::optional<ClipboardContents> copyContents() override { return current().copyContents(); }
  void writeConcealedText(std::string_view text) override { current().writeConcealedText(text); }
  // Keeps growing across connections, so a change made before a reconnect never looks undone.
  uint64_t changeCount() override { return countBefore_ + current().changeCount(); }
  void replaceContents(const ClipboardContents& contents) override { current().replaceContents(contents); }

 private:
  X11Clipboard& current();

  std::string displayName_;
  std::string selection_;
  std::unique_ptr<X11Clipboard> clipboard_;
  uint64_t countBefore_ = 0;
  ReconnectPacer reconnect_;
};

}  // namespace vistaro::x11
