// A window that covers the screen, takes the keyboard focus and prints what it receives,
// one line each, for the input tests to read:
//   ready
//   button <button> <root x> <root y>
//   key <keysym hex> <state hex> <text>
//   paste <text>                         (after Control+v: the CLIPBOARD as UTF8_STRING)
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <string>

int main() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return 1;
  int screen = DefaultScreen(d);
  Window root = RootWindow(d, screen);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.event_mask = ButtonPressMask | KeyPressMask | StructureNotifyMask;
  Window window = XCreateWindow(d, root, 0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen), 0,
                                CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWEventMask,
                                &attributes);
  Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom property = XInternAtom(d, "RECORDER_PASTE", False);
  // Load Xlib's XKB state now, as toolkits do at start; lazily loaded it misses keymap changes.
  XkbKeycodeToKeysym(d, 38, 0, 0);
  XMapRaised(d, window);
  for (;;) {
    XEvent event;
    XNextEvent(d, &event);
    switch (event.type) {
      case MapNotify:
        XSetInputFocus(d, window, RevertToParent, CurrentTime);
        XSync(d, False);
        std::printf("ready\n");
        break;
      case MappingNotify:
        XRefreshKeyboardMapping(&event.xmapping);
        break;
      case ButtonPress:
        std::printf("button %u %d %d\n", event.xbutton.button, event.xbutton.x_root, event.xbutton.y_root);
        break;
      case KeyPress: {
        KeySym keysym = NoSymbol;
        char ignored[32];
        XLookupString(&event.xkey, ignored, sizeof ignored, &keysym, nullptr);
        char text[64] = {};
        xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(keysym), text, sizeof text);
        std::printf("key %lx %x %s\n", keysym, event.xkey.state, text);
        if ((event.xkey.state & ControlMask) && keysym == XK_v) {
          XConvertSelection(d, clipboard, utf8, property, window, event.xkey.time);
        }
        break;
      }
      case SelectionNotify: {
        std::string text;
        if (event.xselection.property != None) {
          Atom type;
          int format;
          unsigned long items, after;
          unsigned char* data = nullptr;
          XGetWindowProperty(d, window, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &items, &after,
                             &data);
          if (data) text.assign(reinterpret_cast<char*>(data), items);
          if (data) XFree(data);
        }
        std::printf("paste %s\n", text.c_str());
        break;
      }
    }
    std::fflush(stdout);
  }
}
