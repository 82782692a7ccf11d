# A GTK window at the top left that prints the click count GTK itself gives each press: "pressed N".
import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

window = Gtk.Window()
window.set_default_size(400, 300)
window.move(0, 0)
gesture = Gtk.GestureMultiPress.new(window)
gesture.connect("pressed", lambda _, count, x, y: print("pressed", count, flush=True))
window.connect("map-event", lambda *_: print("ready", flush=True))
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
