#include "platform/x11/clipboard_targets.h"

#include <unicode/unistr.h>

#include <array>

namespace vistaro::x11 {
namespace {

constexpr std::array<std::string_view, 5> kNotContents{"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS", "DELETE"};
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
  for (std::string_view machinery : kNotContents)
    if (target == machinery) return false;
  return !target.empty() && !target.starts_with("INSERT_");
}

ClipboardContents concealedTextEntries(std::string_view utf8) {
  std::string text(utf8);
  return {
      {"UTF8_STRING", text},
      {"text/plain;charset=utf-8", text},
      {"TEXT", text, "UTF8_STRING"},
      {"STRING", latin1(utf8)},
      {std::string(kTransient), ""},
      {std::string(kConcealed), ""},
      {std::string(kPasswordHint), "secret"},
  };
}

}  // namespace vistaro::x11
