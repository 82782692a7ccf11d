#include "input/clipboard_stash.h"

#include <utility>

namespace vistaro {

bool ClipboardStash::save() {
  if (!saved_) {
    saved_ = clipboard_.copyContents();
    written_ = false;
  }
  return saved_.has_value();
}

void ClipboardStash::dropUnused() {
  if (!written_) saved_.reset();
}

void ClipboardStash::writeConcealedText(std::string_view text) {
  clipboard_.writeConcealedText(text);
  changeCount_ = clipboard_.changeCount();
  written_ = true;
}

void ClipboardStash::restore() {
  if (!saved_) return;
  ClipboardContents saved = std::move(*saved_);
  saved_.reset();
  if (std::exchange(written_, false) && clipboard_.changeCount() == changeCount_) clipboard_.replaceContents(saved);
}

}  // namespace vistaro
