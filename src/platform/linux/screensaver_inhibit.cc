#include "platform/linux/screensaver_inhibit.h"

#include <gio/gio.h>

#include <memory>
#include <utility>
#include <string>

#include "core/l10n.h"
#include "core/log.h"
#include "platform/linux/session_bus.h"

namespace vistaro {
namespace {

// The reply, or absent with the error's text in `problem`.
GVariant* callScreenSaver(const char* method, GVariant* arguments, std::string& problem) {
  std::unique_ptr<GVariant, void (*)(GVariant*)> owned(g_variant_ref_sink(arguments), g_variant_unref);
  GError* error = nullptr;
  GVariant* reply = nullptr;
  if (!sessionBusNamed()) {
    problem = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
  } else if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error)) {
    reply = g_dbus_connection_call_sync(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                        "org.freedesktop.ScreenSaver", method, owned.get(), nullptr,
                                        G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, &error);
    g_object_unref(bus);
  }
  if (error) {
    problem = error->message;
    g_error_free(error);
  }
  return reply;
}

}  // namespace

void ScreenSaverInhibit::hold() {
  if (cookie_) return;
  std::string problem;
  GVariant* reply = callScreenSaver("Inhibit", g_variant_new("(ss)", "vistaro-host", localized("Vistaro: iPhoneから表示中").c_str()), problem);
  if (!reply) {
    // Once: a session without the service still has the X screen saver reset.
    if (!std::exchange(warned_, true)) logInfo("power", "no session screen saver to hold off: {}", problem);
    return;
  }
  uint32_t cookie = 0;
  g_variant_get(reply, "(u)", &cookie);
  g_variant_unref(reply);
  cookie_ = cookie;
}

void ScreenSaverInhibit::release() {
  if (!cookie_) return;
  std::string problem;
  if (GVariant* reply = callScreenSaver("UnInhibit", g_variant_new("(u)", *cookie_), problem)) g_variant_unref(reply);
  cookie_.reset();
}

}  // namespace vistaro
