#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistaro {

// One representation of the clipboard's contents: a type name and its bytes.
struct ClipboardEntry {
  std::string type;
  std::string data;
  // How the desktop labels the bytes where that differs from the type (X11: the property
  // type, such as COMPOUND_TEXT for TEXT); empty: the type itself.
  std::string dataType;
  int itemBits = 8;  // X11: 8, 16 or 32 (the last as the platform's longs)
  bool operator==(const ClipboardEntry&) const = default;
};
using ClipboardContents = std::vector<ClipboardEntry>;

// A selection of the desktop (its clipboard, or the primary selection) as the key injector
// uses it for pasting.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // A copy of everything it holds now, in every representation its owner offers (empty when
  // nothing); absent when it cannot be copied whole within the copy's bounds of size and time.
  virtual std::optional<ClipboardContents> copyContents() = 0;
  // Puts text there, marked as transient and concealed so that clipboard managers keep no history of it.
  virtual void writeConcealedText(std::string_view text) = 0;
  // Grows with every change of contents, whoever made it.
  virtual uint64_t changeCount() = 0;
  // Replaces the contents; empty contents leave the clipboard empty.
  virtual void replaceContents(const ClipboardContents& contents) = 0;
};

}  // namespace vistaro
