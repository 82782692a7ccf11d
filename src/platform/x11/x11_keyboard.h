#pragma once

#include <X11/Xlib.h>

#include <set>
#include <string>
#include <vector>

#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "input/keyboard.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_keymap.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// Key presses through XTest on the current XKB layout. Keysyms the layout lacks
// (accents of other languages, CJK, emoji beyond the BMP) are typed by binding a spare
// keycode to them for the press: several spares are used in turn, each binding stays at
// least 50 ms (clients fetch the keymap lazily and would see NoSymbol otherwise; when every
// spare is that fresh, the caller is told to come back), and all are emptied again once
// typing pauses. Locked and latched modifiers are lifted around each press. Runs on the
// given executor; own connection, opened again (keymap and spares anew) when its server
// comes back after a loss.
class X11Keyboard final : public Keyboard {
 public:
  X11Keyboard(Executor& executor, const std::string& displayName = {});
  ~X11Keyboard() override;

  bool usable();
  // The current connection's keymap; replaced when the connection is.
  X11Keymap& keymap();

  std::optional<Duration> tap(Keysym keysym, Modifiers modifiers) override;

  static constexpr size_t kMaxSpares = 10;
  static constexpr Duration kMinBindingTime = std::chrono::milliseconds(50);
  static constexpr Duration kReleaseSparesAfter = std::chrono::milliseconds(250);

 private:
  struct Spare {
    KeyCode keycode = 0;
    Keysym bound = 0;  // 0: empty
    TimePoint lastUse{};
  };
  void connect();
  void reconnectIfLost();
  // The spare to bind for the keysym, or nothing when there is none at all.
  Spare* spareFor(Keysym keysym);
  KeyCode bind(Spare& spare, Keysym keysym);
  void releaseSpares();
  std::vector<KeyCode> modifierKeys(Modifiers modifiers) const;

  Executor& executor_;
  std::string displayName_;
  ReconnectPacer reconnect_;
  std::unique_ptr<Connection> connection_;
  bool hasXTest_ = false;
  std::unique_ptr<X11Keymap> keymap_;
  std::vector<Spare> spares_;
  std::set<KeyCode> spareCodes_;
  DelayedWork releaseWork_;
  LifetimeGuard guard_;
};

}  // namespace vistaro::x11
