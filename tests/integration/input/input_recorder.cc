// A window over the whole screen that takes the keyboard focus and prints what it receives, a line each:
//   ready | button <button> <root x> <root y> <state hex> | key <keysym hex> <state hex> <text>
//   paste <text>   (after Control+v: the CLIPBOARD as UTF8_STRING)
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>

int main() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return 1;
  Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, DisplayWidth(d, 0), DisplayHeight(d, 0), 0, 0, 0);
  XSelectInput(d, window, ButtonPressMask | KeyPressMask | StructureNotifyMask);
  Atom pasted = XInternAtom(d, "RECORDER_PASTE", False);
  // Load Xlib's XKB state now, as toolkits do at start; lazily loaded it misses keymap changes.
  XkbKeycodeToKeysym(d, 38, 0, 0);
  XMapRaised(d, window);
  for (XEvent event;; std::fflush(stdout)) {
    XNextEvent(d, &event);
    if (event.type == MapNotify) {
      XSetInputFocus(d, window, RevertToParent, CurrentTime);
      XSync(d, False);
      std::printf("ready\n");
    } else if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
    } else if (event.type == ButtonPress) {
      std::printf("button %u %d %d %x\n", event.xbutton.button, event.xbutton.x_root, event.xbutton.y_root,
                  event.xbutton.state);
    } else if (event.type == KeyPress) {
      KeySym keysym = NoSymbol;
      char ignored[32], text[64] = {};
      XLookupString(&event.xkey, ignored, sizeof ignored, &keysym, nullptr);
      xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(keysym), text, sizeof text);
      std::printf("key %lx %x %s\n", keysym, event.xkey.state, text);
      if ((event.xkey.state & ControlMask) && keysym == XK_v) {
        XConvertSelection(d, XInternAtom(d, "CLIPBOARD", False), XInternAtom(d, "UTF8_STRING", False), pasted, window,
                          event.xkey.time);
      }
    } else if (event.type == SelectionNotify) {
      XTextProperty property{};
      XGetTextProperty(d, window, &property, pasted);
      std::printf("paste %.*s\n", static_cast<int>(property.nitems), reinterpret_cast<char*>(property.value));
      if (property.value) XFree(property.value);
    }
  }
}
