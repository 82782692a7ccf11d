#include "platform/x11/clipboard_targets.h"

#include <unicode/unistr.h>

#include <array>

namespace vistaro::x11 {
namespace {

constexpr std::array<std::string_view, 4> kTextTargets{"UTF8_STRING", "STRING", "TEXT", "COMPOUND_TEXT"};
constexpr std::string_view kConcealed = "org.nspasteboard.ConcealedType";
constexpr std::string_view kTransient = "org.nspasteboard.TransientType";
constexpr std::string_view kPasswordHint = "x-kde-passwordManagerHint";

std::string latin1(std::string_view utf8) {
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), utf8.size()));
  std::string out;
  for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    UChar32 cp = text.char32At(i);
    out.push_back(cp < 0x100 ? static_cast<char>(cp) : '?');
  }
  return out;
}

}  // namespace

bool isKeptClipboardTarget(std::string_view target) {
  for (std::string_view text : kTextTargets)
    if (target == text) return true;
  return target.starts_with("text/") || target == kConcealed || target == kTransient || target == kPasswordHint;
}

ClipboardContents concealedTextEntries(std::string_view utf8) {
  std::string text(utf8);
  return {
      {"UTF8_STRING", text},
      {"text/plain;charset=utf-8", text},
      {"TEXT", text},
      {"STRING", latin1(utf8)},
      {std::string(kTransient), ""},
      {std::string(kConcealed), ""},
      {std::string(kPasswordHint), "secret"},
  };
}

}  // namespace vistaro::x11
