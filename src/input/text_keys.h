#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "input/keyboard.h"

namespace vistaro {

// User-perceived characters (extended grapheme clusters) of UTF-8 text; invalid
// bytes become U+FFFD rather than being dropped silently.
std::vector<std::string> graphemes(std::string_view utf8);

// The keysyms that type one grapheme: one per code point, line breaks as Return,
// other control characters dropped.
std::vector<Keysym> keysymsForGrapheme(std::string_view grapheme);

// True for one character of printable US ASCII (space included): the keys every
// layout is expected to have.
bool isAsciiCharacterKey(std::string_view grapheme);

}  // namespace vistaro
