#include "input/text_keys.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace vistaro {

std::vector<std::string> graphemes(std::string_view utf8) {
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), utf8.size()));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  std::vector<std::string> result;
  if (U_FAILURE(status)) return result;
  it->setText(text);
  for (int32_t start = it->first(), end = it->next(); end != icu::BreakIterator::DONE;
       start = end, end = it->next()) {
    std::string piece;
    text.tempSubStringBetween(start, end).toUTF8String(piece);
    result.push_back(std::move(piece));
  }
  return result;
}

std::vector<Keysym> keysymsForGrapheme(std::string_view grapheme) {
  if (grapheme == "\r\n" || grapheme == "\n" || grapheme == "\r") return {XKB_KEY_Return};
  if (grapheme == "\t") return {XKB_KEY_Tab};
  std::vector<Keysym> result;
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(grapheme.data(), grapheme.size()));
  for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    UChar32 cp = text.char32At(i);
    if (cp < 0x20 || (cp >= 0x7f && cp < 0xa0)) continue;
    // The legacy keysym where one exists, so that layouts which carry it (Cyrillic, Greek, ...) type it natively.
    xkb_keysym_t keysym = xkb_utf32_to_keysym(static_cast<uint32_t>(cp));
    if (keysym != XKB_KEY_NoSymbol) result.push_back(keysym);
  }
  return result;
}

bool isAsciiCharacterKey(std::string_view grapheme) {
  return grapheme.size() == 1 && grapheme[0] >= 0x20 && grapheme[0] < 0x7f;
}

}  // namespace vistaro
