#pragma once

#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// Where a keysym sits on the keyboard: the key, and whether Shift reaches its level.
struct KeyPosition {
  KeyCode keycode = 0;
  bool shift = false;
  bool operator==(const KeyPosition&) const = default;
};

// The server's current XKB keymap read through libxkbcommon-x11: keysym lookup per
// group (layout), with the plain and shifted levels cached per layout name. XKB groups
// are what the desktop offers as input sources. Uses the connection of its owner.
class X11Keymap {
 public:
  // Without a connection (null) it knows no keys; once its server is lost it asks no more.
  explicit X11Keymap(const Connection* connection);
  ~X11Keymap();
  X11Keymap(const X11Keymap&) = delete;
  X11Keymap& operator=(const X11Keymap&) = delete;

  bool valid() const { return deviceID_ >= 0 && live(connection_); }
  // Forgets the keymap when the server reports a new keyboard (another layout set).
  void refreshIfChanged();
  // Keys in `ignored` are left out: they are ours to rebind.
  std::optional<KeyPosition> find(uint32_t keysym, uint32_t group, const std::set<KeyCode>& ignored);

  std::optional<uint32_t> currentGroup();
  uint32_t groupCount();
  // Types Latin letters without help: 'a' to 'z' on plain levels.
  bool groupTypesLatin(uint32_t group);
  bool lockGroup(uint32_t group);

 private:
  using LevelMap = std::unordered_map<uint32_t, KeyPosition>;
  xkb_keymap* keymap();
  const LevelMap& levelsOf(uint32_t group);

  const Connection* connection_;
  ::Display* display_;
  int deviceID_ = -1;
  int xkbEventBase_ = 0;
  std::unique_ptr<xkb_context, void (*)(xkb_context*)> context_;
  std::unique_ptr<xkb_keymap, void (*)(xkb_keymap*)> keymap_;
  std::map<std::string, LevelMap> levelsByLayout_;
};

}  // namespace vistaro::x11
