#include "core/display_text.h"

#include <cstdint>

namespace vistaro {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One code point from the front of the text; malformed input takes one byte and gives U+FFFD.
char32_t takeCodePoint(std::string_view& text) {
  const auto lead = static_cast<uint8_t>(text[0]);
  int length = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    length = 1, value = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07;
  }
  if (length == 0 || text.size() < static_cast<size_t>(length)) {
    text.remove_prefix(1);
    return kReplacement;
  }
  for (int i = 1; i < length; ++i) {
    const auto next = static_cast<uint8_t>(text[static_cast<size_t>(i)]);
    if ((next & 0xC0) != 0x80) {
      text.remove_prefix(1);
      return kReplacement;
    }
    value = value << 6 | (next & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  text.remove_prefix(static_cast<size_t>(length));
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return kReplacement;
  return value;
}

bool hidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) ||   // C0, DEL, C1 (escape sequences, new lines)
         (c >= 0x200B && c <= 0x200F) ||            // zero-width marks, LRM/RLM
         (c >= 0x202A && c <= 0x202E) ||            // bidirectional embeddings and overrides
         (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF || c == 0x061C || c == 0x00AD;
}

void append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string displayableText(std::string_view text, size_t maxCharacters) {
  std::string out;
  size_t kept = 0;
  while (!text.empty()) {
    const char32_t c = takeCodePoint(text);
    if (hidden(c)) continue;
    if (kept == maxCharacters) {
      out += "…";
      break;
    }
    append(out, c);
    ++kept;
  }
  return out;
}

}  // namespace vistaro
