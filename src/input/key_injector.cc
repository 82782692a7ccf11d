#include "input/key_injector.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <chrono>

#include "input/named_keys.h"
#include "input/text_keys.h"

namespace vistaro {
namespace {

using std::chrono::milliseconds;

constexpr Duration kPauseAfterKeys = milliseconds(10);
constexpr Duration kPauseAfterPaste = milliseconds(150);
constexpr Duration kPauseAfterSourceSwitch = milliseconds(80);
constexpr Duration kClipboardRestoreDelay = milliseconds(1000);
constexpr Duration kInputSourceRestoreDelay = milliseconds(5000);
constexpr Duration kMinSourceSwitchInterval = milliseconds(1000);
constexpr Duration kShortcutGrace = milliseconds(2000);

}  // namespace

KeyInjector::KeyInjector(Executor& main, Keyboard& keyboard, Clipboard& clipboard, InputSources& sources,
                         CmdModifier cmdModifier)
    : main_(main), keyboard_(keyboard), clipboard_(clipboard), sources_(sources), cmdModifier_(cmdModifier) {}

KeyInjector::~KeyInjector() {
  nextStep_.cancel();
  sourceRestore_.cancel();
  clipboardRestore_.cancel();
}

bool KeyInjector::enqueue(uint64_t client, KeyMessage message) {
  const size_t textBytes = message.text ? message.text->size() : 0;
  bool mergeable = message.text && message.backspaces.value_or(0) == 0 && !pending_.empty() &&
                   pending_.back().client == client && pending_.back().message.text;
  if (pendingTextBytes_ + textBytes > kMaxQueuedTextBytes || (!mergeable && pending_.size() >= kMaxQueuedMessages)) {
    return false;
  }
  pendingTextBytes_ += textBytes;
  if (mergeable) {
    *pending_.back().message.text += *message.text;
  } else {
    pending_.push_back({client, std::move(message)});
  }
  if (!processing_) processNext();
  return true;
}

void KeyInjector::dropClient(uint64_t client) {
  std::erase_if(pending_, [&](const Queued& queued) {
    if (queued.client != client) return false;
    pendingTextBytes_ -= queued.message.text ? queued.message.text->size() : 0;
    return true;
  });
}

void KeyInjector::processNext() {
  if (pending_.empty()) {
    processing_ = false;
    return;
  }
  processing_ = true;
  Queued next = std::move(pending_.front());
  pending_.pop_front();
  pendingTextBytes_ -= next.message.text ? next.message.text->size() : 0;
  current_ = next.client;
  Duration pause = handle(next.message);
  nextStep_ = main_.postAfter(pause, guard_.wrap([this] { processNext(); }));
}

Duration KeyInjector::handle(const KeyMessage& message) {
  if (message.key) return handleKey(*message.key, message.modifiers);
  return handleText(message);
}

Duration KeyInjector::handleText(const KeyMessage& message) {
  int64_t deletions = std::clamp<int64_t>(message.backspaces.value_or(0), 0, kMaxBackspaces);
  for (int64_t i = 0; i < deletions; ++i) keyboard_.tap(XKB_KEY_BackSpace, 0);
  if (!message.text || message.text->empty()) return kPauseAfterKeys;

  std::vector<std::string> characters = graphemes(*message.text);
  if (characters.size() >= kPasteThresholdGraphemes) {
    pasteText(*message.text);
    return kPauseAfterPaste;
  }
  std::optional<InputSourceState> source = sources_.current();
  if (!source || !source->asciiCapable || *source->asciiCapable) {
    typeText(characters);
    return kPauseAfterKeys;
  }
  bool switchAllowed = !lastSourceSwitch_ || main_.now() - *lastSourceSwitch_ > kMinSourceSwitchInterval;
  if (switchAllowed && switchToAsciiCapableSource()) {
    // The deletions are done; the text comes round again under the new source.
    pending_.push_front(
        {current_, KeyMessage{.text = message.text, .backspaces = 0, .key = std::nullopt, .modifiers = message.modifiers}});
    pendingTextBytes_ += message.text->size();
    return kPauseAfterSourceSwitch;
  }
  pasteText(*message.text);
  return kPauseAfterPaste;
}

Duration KeyInjector::handleKey(const std::string& key, const std::vector<std::string>& modifierNames) {
  Modifiers modifiers = modifiersFromNames(modifierNames, cmdModifier_);
  if (std::optional<NamedKey> named = namedKey(key)) {
    if (named->navigation && namesAreControlAlone(modifierNames)) graceUntil_ = main_.now() + kShortcutGrace;
    keyboard_.tap(named->keysym, modifiers);
    return kPauseAfterKeys;
  }
  std::vector<std::string> characters = graphemes(key);
  if (characters.size() != 1) return kPauseAfterKeys;
  // A bare key is only pressed for the characters of a US keyboard; anything else is text.
  if (modifiers == 0 && !isAsciiCharacterKey(characters[0])) return kPauseAfterKeys;
  std::vector<Keysym> keysyms = keysymsForGrapheme(characters[0]);
  if (keysyms.size() == 1) keyboard_.tap(keysyms[0], modifiers);
  return kPauseAfterKeys;
}

void KeyInjector::typeText(const std::vector<std::string>& characters) {
  for (const std::string& character : characters) {
    for (Keysym keysym : keysymsForGrapheme(character)) keyboard_.tap(keysym, 0);
  }
  scheduleInputSourceRestore();
}

void KeyInjector::pasteText(const std::string& text) {
  // A paste not yet undone keeps the older copy: that one still holds the user's own contents.
  if (!savedClipboard_) savedClipboard_ = clipboard_.copyContents();
  clipboard_.writeConcealedText(text);
  pasteChangeCount_ = clipboard_.changeCount();
  keyboard_.tap(XKB_KEY_v, cmdModifiers(cmdModifier_));
  clipboardRestore_.schedule(main_, kClipboardRestoreDelay, guard_.wrap([this] {
    if (!savedClipboard_) return;
    ClipboardContents saved = std::move(*savedClipboard_);
    savedClipboard_.reset();
    if (clipboard_.changeCount() == pasteChangeCount_) clipboard_.replaceContents(saved);
  }));
}

bool KeyInjector::switchToAsciiCapableSource() {
  lastSourceSwitch_ = main_.now();
  std::optional<InputSourceID> ascii = sources_.asciiCapable();
  if (!ascii) return false;
  if (!savedSource_) {
    std::optional<InputSourceState> current = sources_.current();
    if (current) savedSource_ = current->id;
  }
  return sources_.select(*ascii);
}

void KeyInjector::scheduleInputSourceRestore() {
  if (!savedSource_) return;
  sourceRestore_.schedule(main_, kInputSourceRestoreDelay, guard_.wrap([this] {
    if (!savedSource_) return;
    InputSourceID source = *savedSource_;
    savedSource_.reset();
    sources_.select(source);
  }));
}

}  // namespace vistaro
