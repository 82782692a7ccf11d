#include "platform/x11/x11_keyboard.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>

#include "core/log.h"
#include "platform/x11/locked_modifiers.h"

namespace vistaro::x11 {
namespace {

std::vector<KeyCode> findEmptyKeycodes(::Display* d, size_t limit) {
  int minCode = 0, maxCode = 0, perCode = 0;
  XDisplayKeycodes(d, &minCode, &maxCode);
  KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
  std::vector<KeyCode> result;
  if (!syms) return result;
  // From the top: high keycodes are the least likely to be on a real keyboard.
  for (int code = maxCode; code >= minCode && result.size() < limit; --code) {
    const KeySym* row = syms + static_cast<size_t>(code - minCode) * perCode;
    if (std::all_of(row, row + perCode, [](KeySym s) { return s == NoSymbol; })) {
      result.push_back(static_cast<KeyCode>(code));
    }
  }
  XFree(syms);
  return result;
}


}  // namespace

X11Keyboard::X11Keyboard(Executor& executor, const std::string& displayName)
    : executor_(executor), displayName_(displayName) {
  connect();
}

void X11Keyboard::connect() {
  releaseWork_.cancel();
  spares_.clear();
  spareCodes_.clear();
  keymap_.reset();
  connection_ = Connection::open(displayName_);
  keymap_ = std::make_unique<X11Keymap>(connection_.get());
  reconnect_.connected();
  hasXTest_ = offersXTest(connection_.get());
  if (!connection_) return;
  for (KeyCode code : findEmptyKeycodes(connection_->get(), kMaxSpares)) {
    spares_.push_back({.keycode = code});
    spareCodes_.insert(code);
  }
  if (spares_.empty()) logWarning("input", "no spare keycode: characters missing from the layout cannot be typed");
}

void X11Keyboard::reconnectIfLost() {
  if (!live(connection_.get()) && reconnect_.due()) connect();
}

bool X11Keyboard::usable() {
  reconnectIfLost();
  return hasXTest_ && keymap_->valid();
}

X11Keymap& X11Keyboard::keymap() {
  reconnectIfLost();
  return *keymap_;
}

X11Keyboard::~X11Keyboard() {
  releaseWork_.cancel();
  releaseSpares();
}

std::vector<KeyCode> X11Keyboard::modifierKeys(Modifiers modifiers) const {
  std::vector<KeyCode> keys;
  auto add = [&](Modifier modifier, KeySym keysym) {
    if (!(modifiers & modifier)) return;
    KeyCode code = XKeysymToKeycode(connection_->get(), keysym);
    if (code != 0) keys.push_back(code);
  };
  add(kControl, XK_Control_L);
  add(kAlt, XK_Alt_L);
  add(kSuper, XK_Super_L);
  add(kShift, XK_Shift_L);
  return keys;
}

std::optional<Duration> X11Keyboard::tap(Keysym keysym, Modifiers modifiers) {
  if (!usable()) return std::nullopt;
  keymap_->refreshIfChanged();
  std::optional<KeyPosition> position;
  if (std::optional<uint32_t> group = keymap_->currentGroup()) position = keymap_->find(keysym, *group, spareCodes_);
  if (!position) {
    Spare* spare = spareFor(keysym);
    if (!spare) return std::nullopt;
    // Every spare is fresh (a long run of untypeable characters): its keysym stays until
    // clients have had time to read it, and the caller comes back then.
    Duration age = Clock::now() - spare->lastUse;
    if (spare->bound != keysym && spare->bound != 0 && age < kMinBindingTime) return kMinBindingTime - age;
    position = KeyPosition{bind(*spare, keysym), false};
  }
  if (position->shift) modifiers |= kShift;
  ::Display* d = connection_->get();
  std::vector<KeyCode> held = modifierKeys(modifiers);
  {
    LockedModifiersLifted lifted(*connection_);
    for (KeyCode code : held) XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, position->keycode, True, CurrentTime);
    XTestFakeKeyEvent(d, position->keycode, False, CurrentTime);
    for (auto it = held.rbegin(); it != held.rend(); ++it) XTestFakeKeyEvent(d, *it, False, CurrentTime);
  }
  XFlush(d);
  return std::nullopt;
}

X11Keyboard::Spare* X11Keyboard::spareFor(Keysym keysym) {
  if (spares_.empty()) return nullptr;
  auto spare = std::find_if(spares_.begin(), spares_.end(), [&](const Spare& s) { return s.bound == keysym; });
  if (spare != spares_.end()) return &*spare;
  return &*std::min_element(spares_.begin(), spares_.end(),
                            [](const Spare& a, const Spare& b) { return a.lastUse < b.lastUse; });
}

KeyCode X11Keyboard::bind(Spare& spare, Keysym keysym) {
  if (spare.bound != keysym) {
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(connection_->get(), spare.keycode, 2, syms, 1);
    XSync(connection_->get(), False);
    spare.bound = keysym;
  }
  spare.lastUse = Clock::now();
  releaseWork_.schedule(executor_, kReleaseSparesAfter, guard_.wrap([this] { releaseSpares(); }));
  return spare.keycode;
}

void X11Keyboard::releaseSpares() {
  if (!live(connection_.get())) return;
  for (Spare& spare : spares_) {
    if (spare.bound == 0) continue;
    KeySym empty = NoSymbol;
    XChangeKeyboardMapping(connection_->get(), spare.keycode, 1, &empty, 1);
    spare.bound = 0;
  }
  XFlush(connection_->get());
}

}  // namespace vistaro::x11
