#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vistaro {

// One representation of the clipboard's contents: a type name and its bytes.
struct ClipboardEntry {
  std::string type;
  std::string data;
  bool operator==(const ClipboardEntry&) const = default;
};
using ClipboardContents = std::vector<ClipboardEntry>;

// The desktop's clipboard as the key injector uses it for pasting.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // A copy of what it holds now (empty when nothing).
  virtual ClipboardContents copyContents() = 0;
  // Puts text there, marked as transient and concealed so that clipboard managers keep no history of it.
  virtual void writeConcealedText(std::string_view text) = 0;
  // Grows with every change of contents, whoever made it.
  virtual uint64_t changeCount() = 0;
  // Replaces the contents; empty contents leave the clipboard empty.
  virtual void replaceContents(const ClipboardContents& contents) = 0;
};

}  // namespace vistaro
