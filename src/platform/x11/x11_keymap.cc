#include "platform/x11/x11_keymap.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <fmt/format.h>

#include <vector>

namespace vistaro::x11 {

X11Keymap::X11Keymap(const Connection* owner)
    : connection_(owner),
      display_(owner ? owner->get() : nullptr),
      context_(xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES), xkb_context_unref),
      keymap_(nullptr, xkb_keymap_unref) {
  if (!display_) return;
  xcb_connection_t* connection = XGetXCBConnection(display_);
  uint8_t eventBase = 0;
  if (!context_ || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                 XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                                 nullptr, nullptr, &eventBase, nullptr)) {
    return;
  }
  int opcode = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion, xlibEventBase = 0;
  if (!XkbQueryExtension(display_, &opcode, &xlibEventBase, &errorBase, &major, &minor)) return;
  xkbEventBase_ = xlibEventBase;
  deviceID_ = xkb_x11_get_core_keyboard_device_id(connection);
  XkbSelectEvents(display_, XkbUseCoreKbd, XkbNewKeyboardNotifyMask, XkbNewKeyboardNotifyMask);
}

X11Keymap::~X11Keymap() = default;

void X11Keymap::refreshIfChanged() {
  if (!valid()) return;
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == xkbEventBase_ && reinterpret_cast<XkbAnyEvent*>(&event)->xkb_type == XkbNewKeyboardNotify) {
      keymap_.reset();
      levelsByLayout_.clear();
    }
  }
}

xkb_keymap* X11Keymap::keymap() {
  if (!keymap_ && valid()) {
    keymap_.reset(xkb_x11_keymap_new_from_device(context_.get(), XGetXCBConnection(display_), deviceID_,
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS));
  }
  return keymap_.get();
}

const X11Keymap::LevelMap& X11Keymap::levelsOf(uint32_t group) {
  static const LevelMap kNone;
  xkb_keymap* map = keymap();
  if (!map || group >= xkb_keymap_num_layouts(map)) return kNone;
  const char* name = xkb_keymap_layout_get_name(map, group);
  std::string key = name ? std::string(name) : fmt::format("#{}", group);
  auto [it, inserted] = levelsByLayout_.try_emplace(key);
  if (!inserted) return it->second;

  xkb_mod_mask_t shiftMask = 1u << xkb_keymap_mod_get_index(map, XKB_MOD_NAME_SHIFT);
  // Plain levels first, then shifted ones; lower keycodes first: the first hit wins.
  for (bool shift : {false, true}) {
    xkb_mod_mask_t wanted = shift ? shiftMask : 0;
    for (xkb_keycode_t code = xkb_keymap_min_keycode(map); code <= xkb_keymap_max_keycode(map); ++code) {
      xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(map, code);
      if (layouts == 0 || code > 255) continue;
      xkb_layout_index_t layout = group % layouts;
      for (xkb_level_index_t level = 0; level < xkb_keymap_num_levels_for_key(map, code, layout); ++level) {
        xkb_mod_mask_t masks[8];
        size_t count = xkb_keymap_key_get_mods_for_level(map, code, layout, level, masks, 8);
        bool reachable = false;
        for (size_t i = 0; i < count; ++i) reachable = reachable || masks[i] == wanted;
        if (!reachable) continue;
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(map, code, layout, level, &syms) != 1) continue;
        it->second.try_emplace(syms[0], KeyPosition{static_cast<KeyCode>(code), shift});
      }
    }
  }
  return it->second;
}

std::optional<KeyPosition> X11Keymap::find(uint32_t keysym, uint32_t group, const std::set<KeyCode>& ignored) {
  const LevelMap& levels = levelsOf(group);
  auto it = levels.find(keysym);
  if (it == levels.end() || ignored.count(it->second.keycode)) return std::nullopt;
  return it->second;
}

std::optional<uint32_t> X11Keymap::currentGroup() {
  XkbStateRec state;
  if (!valid() || XkbGetState(display_, XkbUseCoreKbd, &state) != Success) return std::nullopt;
  return state.group;
}

uint32_t X11Keymap::groupCount() {
  xkb_keymap* map = keymap();
  return map ? xkb_keymap_num_layouts(map) : 0;
}

bool X11Keymap::groupTypesLatin(uint32_t group) {
  const LevelMap& levels = levelsOf(group);
  for (uint32_t letter = 'a'; letter <= 'z'; ++letter) {
    auto it = levels.find(letter);
    if (it == levels.end() || it->second.shift) return false;
  }
  return true;
}

bool X11Keymap::lockGroup(uint32_t group) {
  if (!valid() || group >= groupCount()) return false;
  XkbLockGroup(display_, XkbUseCoreKbd, group);
  XSync(display_, False);
  return currentGroup() == group;
}

}  // namespace vistaro::x11
