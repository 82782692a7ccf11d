#include "platform/linux/accessibility_switch.h"

#include <gio/gio.h>

#include <memory>

#include "platform/linux/session_bus.h"

namespace vistaro {
namespace {

constexpr int kCallTimeoutMs = 2000;

struct Close {
  void operator()(GDBusConnection* bus) const {
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
  }
};
using Connection = std::unique_ptr<GDBusConnection, Close>;

std::string taken(GError* error) {
  std::string message = error ? error->message : "unknown error";
  g_clear_error(&error);
  return message;
}

// The reply, of the type asked for (GDBus refuses any other).
std::optional<GVariant*> call(GDBusConnection* bus, const char* interface, const char* method, GVariant* arguments,
                              const char* replyType, std::string& problem) {
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, "org.a11y.Bus", "/org/a11y/bus", interface, method, arguments,
                                  G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
  if (!reply) {
    problem = taken(error);
    return std::nullopt;
  }
  return reply;
}

}  // namespace

std::optional<std::string> turnOnSessionAccessibility() {
  // Without one named, GDBus and libdbus would launch a bus of their own that no application uses.
  if (!sessionBusNamed()) return "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
  GError* error = nullptr;
  std::unique_ptr<gchar, decltype(&g_free)> address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error),
                                                    g_free);
  if (!address) return taken(error);
  // A private connection: the shared one of g_bus_get ends the process when the bus goes.
  Connection bus(g_dbus_connection_new_for_address_sync(
      address.get(), GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error));
  if (!bus) return taken(error);
  std::string problem;
  auto reply = call(bus.get(), "org.a11y.Bus", "GetAddress", nullptr, "(s)", problem);
  if (!reply) return "no accessibility bus: " + problem;
  g_variant_unref(*reply);
  reply = call(bus.get(), "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"),
               "(v)", problem);
  if (!reply) return "cannot read the accessibility switch: " + problem;
  GVariant* value = nullptr;
  g_variant_get(*reply, "(v)", &value);
  const bool enabled = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
  g_variant_unref(value);
  g_variant_unref(*reply);
  if (enabled) return std::nullopt;
  reply = call(bus.get(), "org.freedesktop.DBus.Properties", "Set",
               g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), "()", problem);
  if (!reply) return "cannot turn the accessibility switch on: " + problem;
  g_variant_unref(*reply);
  return std::nullopt;
}

}  // namespace vistaro
