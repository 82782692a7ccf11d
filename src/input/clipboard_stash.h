#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "input/clipboard.h"

namespace vistaro {

// One selection (the clipboard, or the primary selection) while the host pastes through it:
// the user's contents are saved before the first paste and put back once the pastes are
// over, unless someone else changed the selection in between.
class ClipboardStash {
 public:
  explicit ClipboardStash(Clipboard& clipboard) : clipboard_(clipboard) {}

  // Saves the contents, unless a copy from a paste not yet undone is held (that one still has
  // the user's own). False when they cannot be saved whole: then nothing may replace them.
  bool save();
  // Forgets a copy that no paste of ours has replaced yet.
  void dropUnused();
  void writeConcealedText(std::string_view text);
  // Puts the saved contents back when nobody has changed the selection since our last write.
  void restore();

 private:
  Clipboard& clipboard_;
  std::optional<ClipboardContents> saved_;
  bool written_ = false;
  uint64_t changeCount_ = 0;
};

}  // namespace vistaro
