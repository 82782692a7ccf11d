#include "platform/x11/locked_modifiers.h"

#include <X11/XKBlib.h>

namespace vistaro::x11 {

LockedModifiersLifted::LockedModifiersLifted(const Connection& events, const Connection* stateFrom) : events_(events) {
  const Connection& state = stateFrom ? *stateFrom : events;
  XkbStateRec now;
  if (!live(&state) || !live(&events) || XkbGetState(state.get(), XkbUseCoreKbd, &now) != Success) return;
  locked_ = now.locked_mods;
  latched_ = now.latched_mods;
  if (locked_) XkbLockModifiers(events.get(), XkbUseCoreKbd, locked_, 0);
  if (latched_) XkbLatchModifiers(events.get(), XkbUseCoreKbd, latched_, 0);
}

LockedModifiersLifted::~LockedModifiersLifted() {
  if (!live(&events_)) return;
  if (locked_) XkbLockModifiers(events_.get(), XkbUseCoreKbd, locked_, locked_);
  if (latched_) XkbLatchModifiers(events_.get(), XkbUseCoreKbd, latched_, latched_);
}

}  // namespace vistaro::x11
