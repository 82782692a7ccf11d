#include "client/input_command.h"

#include <charconv>
#include <cmath>

namespace vistaro::client {
namespace {

template <typename Number>
bool parseNumber(const std::string& text, Number& out) {
  const auto [end, result] = std::from_chars(text.data(), text.data() + text.size(), out);
  if constexpr (std::is_floating_point_v<Number>) {
    if (!std::isfinite(out)) return false;
  }
  return result == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Walks the words after the command's own operands.
class Words {
 public:
  Words(const std::vector<std::string>& words, std::string& error) : words_(words), error_(error) {}

  bool done() const { return at_ >= words_.size(); }
  const std::string& next() { return words_[at_++]; }
  template <typename Number>
  bool number(const char* what, Number& out) {
    if (done()) return fail(std::string("missing ") + what);
    const std::string& word = next();
    return parseNumber(word, out) || fail(std::string("bad ") + what + ": " + word);
  }
  bool fail(std::string reason) {
    error_ = std::move(reason);
    return false;
  }

 private:
  const std::vector<std::string>& words_;
  std::string& error_;
  size_t at_ = 1;
};

bool isCommandWord(const std::string& word) {
  return word == "click" || word == "scroll" || word == "type" || word == "key" || word == "headless" ||
         word == "fit" || word == "watch";
}

// WxH in pixels, both at least 1.
bool parseScreen(const std::string& text, ClientDisplayMessage& display) {
  const size_t x = text.find('x');
  return x != std::string::npos && parseNumber(text.substr(0, x), display.pixelW) &&
         parseNumber(text.substr(x + 1), display.pixelH) && display.pixelW >= 1 && display.pixelH >= 1;
}

std::optional<InputCommand> parseFit(const std::vector<std::string>& arguments, Words& words) {
  InputCommand result;
  if (arguments.size() < 2 || (arguments[1] != "on" && arguments[1] != "off") ||
      (arguments[1] == "off" && arguments.size() > 2)) {
    words.fail("fit takes on [--screen WxH] [--text normal|large|small] [--fill], or off");
    return std::nullopt;
  }
  result.fit = arguments[1] == "on";
  words.next();
  // A phone's screen by default: 1170 x 2532, normal text.
  ClientDisplayMessage display{1170, 2532, "normal", false};
  while (!words.done()) {
    const std::string& flag = words.next();
    if (flag == "--screen" && !words.done()) {
      const std::string& size = words.next();
      if (!parseScreen(size, display)) return words.fail("bad --screen: " + size), std::nullopt;
    } else if (flag == "--text" && !words.done()) {
      display.textSize = words.next();
      if (display.textSize != "normal" && display.textSize != "large" && display.textSize != "small") {
        return words.fail("bad --text: " + display.textSize), std::nullopt;
      }
    } else if (flag == "--fill") {
      display.fillWindow = true;
    } else {
      return words.fail("unexpected " + flag), std::nullopt;
    }
  }
  if (*result.fit) result.clientDisplay = display;
  return result;
}

}  // namespace

size_t findInputCommand(const std::vector<std::string>& arguments) {
  // Flags come in pairs (--flag value) unless written --flag=value.
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (isCommandWord(arguments[i])) return i;
    if (arguments[i].rfind("--", 0) == 0 && arguments[i].find('=') == std::string::npos) ++i;
  }
  return arguments.size();
}

std::optional<InputCommand> parseInputCommand(const std::vector<std::string>& arguments, std::string& error) {
  if (arguments.empty() || !isCommandWord(arguments[0]) || arguments[0] == "watch") {
    error = "unknown command";
    return std::nullopt;
  }
  const std::string& command = arguments[0];
  Words words(arguments, error);
  InputCommand result;
  if (command == "headless") {
    const bool valid = arguments.size() == 2 && (arguments[1] == "on" || arguments[1] == "off");
    if (!valid) {
      words.fail("headless takes on or off");
      return std::nullopt;
    }
    result.headless = arguments[1] == "on";
    return result;
  }
  if (command == "fit") return parseFit(arguments, words);
  if (command == "type" || command == "key") {
    KeyMessage key;
    if (words.done()) {
      words.fail(command == "type" ? "missing text" : "missing key name");
      return std::nullopt;
    }
    (command == "type" ? key.text : key.key) = words.next();
    while (!words.done()) {
      const std::string& flag = words.next();
      if (command == "type" && flag == "--backspaces") {
        int64_t count = 0;
        if (!words.number("--backspaces", count)) return std::nullopt;
        key.backspaces = count;
      } else if (command == "key" && flag == "--mod" && !words.done()) {
        key.modifiers.push_back(words.next());
      } else {
        words.fail("unexpected " + flag);
        return std::nullopt;
      }
    }
    result.key = std::move(key);
    return result;
  }

  InputMessage pointer;
  pointer.x = pointer.y = 0.5;
  if (command == "click") {
    if (!words.number("x", pointer.x) || !words.number("y", pointer.y)) return std::nullopt;
  } else {
    pointer.kind = InputMessage::Kind::scroll;
    pointer.scrollBegan = true;
    int64_t dy = 0;
    if (!words.number("dy", dy)) return std::nullopt;
    pointer.scrollY = dy;
  }
  while (!words.done()) {
    const std::string& flag = words.next();
    bool ok = true;
    if (flag == "--display") {
      ok = words.number("--display", pointer.displayID);
      result.displayGiven = true;
    } else if (command == "click" && flag == "--right") {
      pointer.kind = InputMessage::Kind::rightClick;
    } else if (command == "click" && flag == "--count") {
      ok = words.number("--count", pointer.clickCount);
    } else if (command == "scroll" && flag == "--dx") {
      int64_t dx = 0;
      ok = words.number("--dx", dx);
      pointer.scrollX = dx;
    } else if (command == "scroll" && flag == "--at") {
      ok = words.number("x", pointer.x) && words.number("y", pointer.y);
    } else {
      ok = words.fail("unexpected " + flag);
    }
    if (!ok) return std::nullopt;
  }
  result.pointer = pointer;
  return result;
}

}  // namespace vistaro::client
