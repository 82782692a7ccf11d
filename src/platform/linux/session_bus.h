#pragma once

namespace vistaro {

// Whether the desktop names its session bus (DBUS_SESSION_BUS_ADDRESS, or $XDG_RUNTIME_DIR/bus).
// Without one, GDBus and libdbus would launch a bus of their own that no application uses.
bool sessionBusNamed();

}  // namespace vistaro
