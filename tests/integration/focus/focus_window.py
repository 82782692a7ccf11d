# A window with a text entry above a button, in GTK 3 or 4 (argv[1]). Prints where each widget is
# inside the window, in the window system's pixels ("entry X Y W H"), then "ready".
import sys

import gi

version = sys.argv[1]
gi.require_version("Gtk", f"{version}.0")
from gi.repository import GLib, Gtk  # noqa: E402


def report(window, widgets, offset):
    scale = window.get_scale_factor()
    for name, widget in widgets:
        if version == "3":
            x, y = widget.translate_coordinates(window, 0, 0)
            width, height = widget.get_allocated_width(), widget.get_allocated_height()
        else:
            _, bounds = widget.compute_bounds(window)
            x, y, width, height = bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height
        print(name, *(round(v * scale) for v in (x + offset[0], y + offset[1], width, height)), flush=True)
    print("ready", flush=True)
    return False


def build(window):
    entry, button = Gtk.Entry(), Gtk.Button(label="Press")
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=60)
    widgets = [("entry", entry), ("button", button)]
    window.set_title("focus-test")
    window.set_default_size(400, 200)
    if version == "3":
        for _, widget in widgets:
            box.pack_start(widget, False, False, 0)
        window.add(box)
        window.connect("destroy", Gtk.main_quit)
        window.show_all()
        offset = (0, 0)
    else:
        for _, widget in widgets:
            box.append(widget)
        window.set_child(box)
        window.present()
        offset = window.get_surface_transform() if hasattr(window, "get_surface_transform") else (0, 0)
    GLib.timeout_add(500, report, window, widgets, offset)


if version == "3":
    build(Gtk.Window())
    Gtk.main()
else:
    application = Gtk.Application()
    application.connect("activate", lambda app: build(Gtk.ApplicationWindow(application=app)))
    application.run([])
