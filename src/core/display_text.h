#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vistaro {

// Text from a peer (a client's name) made safe to show in a terminal, the journal or the
// panel: invalid UTF-8 becomes U+FFFD, control characters and the invisible format
// characters that reorder or hide text (bidirectional overrides, zero-width marks) are
// removed, and beyond maxCharacters code points the rest is replaced by "…".
std::string displayableText(std::string_view text, size_t maxCharacters = 40);

}  // namespace vistaro
