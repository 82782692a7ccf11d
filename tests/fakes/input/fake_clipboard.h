#pragma once

#include <string>

#include "input/clipboard.h"

namespace vistaro {

class FakeClipboard final : public Clipboard {
 public:
  ClipboardContents copyContents() override { return contents; }
  void writeConcealedText(std::string_view text) override {
    contents = {{"text/plain", std::string(text)}, {"transient", ""}, {"concealed", ""}};
    ++count;
  }
  uint64_t changeCount() override { return count; }
  void replaceContents(const ClipboardContents& replacement) override {
    contents = replacement;
    ++count;
  }
  // Someone else copies something.
  void userCopies(std::string text) {
    contents = {{"text/plain", std::move(text)}};
    ++count;
  }

  ClipboardContents contents;
  uint64_t count = 0;
};

}  // namespace vistaro
