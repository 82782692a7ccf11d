#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/x11/xlib_fwd.h"

namespace vistaro::x11 {

// Reads of the properties that programs and the window manager put on top-level windows. A window
// that is gone reads as absent: callers that must tell a vanished window from an empty property
// look at their connection's error afterwards.

using WindowID = unsigned long;  // Xlib's Window
using AtomID = unsigned long;    // Xlib's Atom

// A property of 32-bit items (Xlib hands them out as longs); empty when absent or of another type.
std::vector<unsigned long> cardinals(::Display* display, WindowID window, const char* name, AtomID type,
                                     long max);

// _NET_WM_NAME, else WM_NAME, always as UTF-8.
std::string windowTitle(::Display* display, WindowID window);

struct WindowClass {
  std::string instance;  // WM_CLASS res_name ("xterm")
  std::string name;      // WM_CLASS res_class ("XTerm")
};
std::optional<WindowClass> windowClass(::Display* display, WindowID window);

// The desktop the window manager shows (_NET_CURRENT_DESKTOP); absent without one.
std::optional<unsigned long> currentDesktop(::Display* display);

// A window manager runs. One that died leaves the root's _NET_SUPPORTING_WM_CHECK behind, naming
// a window that is gone or no longer its own.
bool hasWindowManager(::Display* display);

// The window manager's client list in its order (oldest first), or the root's children when no
// window manager runs.
std::vector<WindowID> topLevelWindows(::Display* display);

}  // namespace vistaro::x11
