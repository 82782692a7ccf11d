#pragma once

#include <string_view>

#include "input/clipboard.h"

namespace vistaro::x11 {

// Which of another owner's targets are kept for putting back after a paste: all that hold
// contents (text, images, file lists, markers, ...). The selection machinery (TARGETS,
// TIMESTAMP, MULTIPLE, SAVE_TARGETS) and the requests with side effects (DELETE, INSERT_*)
// are not contents.
bool isKeptClipboardTarget(std::string_view target);

// What the host offers while pasting: the text under every text target (STRING in
// Latin-1, unrepresentable characters as '?') plus the transient and concealed markers.
ClipboardContents concealedTextEntries(std::string_view utf8);

}  // namespace vistaro::x11
