#include "input/key_injector.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "input/named_keys.h"
#include "input/paste_keystroke.h"
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
                         CmdModifier cmdModifier, TerminalPaste terminalPaste)
    : main_(main),
      keyboard_(keyboard),
      sources_(sources),
      cmdModifier_(cmdModifier),
      focus_(terminalPaste.primary ? terminalPaste.focus : nullptr),
      clipboard_(clipboard) {
  if (focus_) primary_.emplace(*terminalPaste.primary);
}

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
  processing_ = true;
  if (taps_.empty()) {
    if (pending_.empty()) {
      processing_ = false;
      return;
    }
    Queued next = std::move(pending_.front());
    pending_.pop_front();
    pendingTextBytes_ -= next.message.text ? next.message.text->size() : 0;
    current_ = next.client;
    pauseAfterTaps_ = handle(next.message);
  }
  Duration pause = pressTaps().value_or(pauseAfterTaps_);
  nextStep_ = main_.postAfter(pause, guard_.wrap([this] { processNext(); }));
}

std::optional<Duration> KeyInjector::pressTaps() {
  for (; !taps_.empty(); taps_.pop_front()) {
    if (std::optional<Duration> wait = keyboard_.tap(taps_.front().keysym, taps_.front().modifiers)) return wait;
  }
  if (std::exchange(typedText_, false)) scheduleInputSourceRestore();
  return std::nullopt;
}

Duration KeyInjector::handle(const KeyMessage& message) {
  if (message.key) return handleKey(*message.key, message.modifiers);
  return handleText(message);
}

Duration KeyInjector::handleText(const KeyMessage& message) {
  int64_t deletions = std::clamp<int64_t>(message.backspaces.value_or(0), 0, kMaxBackspaces);
  for (int64_t i = 0; i < deletions; ++i) taps_.push_back({XKB_KEY_BackSpace, 0});
  if (!message.text || message.text->empty()) return kPauseAfterKeys;

  std::vector<std::string> characters = graphemes(*message.text);
  if (characters.size() >= kPasteThresholdGraphemes) return typeOrPaste(*message.text, characters);
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
  return typeOrPaste(*message.text, characters);
}

Duration KeyInjector::handleKey(const std::string& key, const std::vector<std::string>& modifierNames) {
  Modifiers modifiers = modifiersFromNames(modifierNames, cmdModifier_);
  if (std::optional<NamedKey> named = namedKey(key)) {
    if (named->navigation && namesAreControlAlone(modifierNames)) graceUntil_ = main_.now() + kShortcutGrace;
    taps_.push_back({named->keysym, modifiers});
    return kPauseAfterKeys;
  }
  std::vector<std::string> characters = graphemes(key);
  if (characters.size() != 1) return kPauseAfterKeys;
  // A bare key is only pressed for the characters of a US keyboard; anything else is text.
  if (modifiers == 0 && !isAsciiCharacterKey(characters[0])) return kPauseAfterKeys;
  std::vector<Keysym> keysyms = keysymsForGrapheme(characters[0]);
  if (keysyms.size() == 1) taps_.push_back({keysyms[0], modifiers});
  return kPauseAfterKeys;
}

Duration KeyInjector::typeOrPaste(const std::string& text, const std::vector<std::string>& characters) {
  if (pasteText(text)) return kPauseAfterPaste;
  typeText(characters);
  return kPauseAfterKeys;
}

void KeyInjector::typeText(const std::vector<std::string>& characters) {
  for (const std::string& character : characters) {
    for (Keysym keysym : keysymsForGrapheme(character)) taps_.push_back({keysym, 0});
  }
  typedText_ = true;
}

bool KeyInjector::pasteText(const std::string& text) {
  PasteKeystroke keystroke = pasteKeystrokeFor(focus_ ? focus_->classNames() : std::vector<std::string>{}, cmdModifier_);
  ClipboardStash* primary = keystroke.fromPrimary ? &*primary_ : nullptr;
  // The user's contents are never replaced by a paste that could not save them.
  if (!clipboard_.save()) return false;
  if (primary && !primary->save()) {
    clipboard_.dropUnused();
    return false;
  }
  clipboard_.writeConcealedText(text);
  if (primary) primary->writeConcealedText(text);
  taps_.push_back({keystroke.keysym, keystroke.modifiers});
  clipboardRestore_.schedule(main_, kClipboardRestoreDelay, guard_.wrap([this] {
    clipboard_.restore();
    if (primary_) primary_->restore();
  }));
  return true;
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
