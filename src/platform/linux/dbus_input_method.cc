#include "platform/linux/dbus_input_method.h"

#include <gio/gio.h>

#include <cstdlib>
#include <fstream>

#include "platform/linux/session_bus.h"

namespace vistaro {
namespace {

// The reply of the type asked for, or null.
GVariant* call(GDBusConnection* bus, const char* name, const char* path, const char* interface, const char* method,
               GVariant* arguments, const char* replyType) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, name, path, interface, method, arguments, G_VARIANT_TYPE(replyType),
                                                G_DBUS_CALL_FLAGS_NO_AUTO_START, DbusInputMethod::kCallTimeoutMs,
                                                nullptr, &error);
  g_clear_error(&error);
  return reply;
}

std::string firstLineOf(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool converts(const std::optional<std::string>& engine, std::string_view plainPrefix) {
  return engine && !engine->empty() && !engine->starts_with(plainPrefix);
}

}  // namespace

void DbusInputMethod::Close::operator()(GDBusConnection* bus) const {
  g_dbus_connection_close(bus, nullptr, nullptr, nullptr);
  g_object_unref(bus);
}

DbusInputMethod::DbusInputMethod(std::string displayName, std::filesystem::path configHome)
    : displayName_(std::move(displayName)),
      configHome_(configHome.empty() ? std::filesystem::path(g_get_user_config_dir()) : std::move(configHome)) {}

DbusInputMethod::~DbusInputMethod() = default;

bool DbusInputMethod::convertsKeys() { return converts(ibusEngine(), "xkb:") || converts(fcitxEngine(), "keyboard-"); }

GDBusConnection* DbusInputMethod::connected(Bus& bus, const std::function<std::optional<std::string>()>& addressOf) {
  if (bus && !g_dbus_connection_is_closed(bus.get())) return bus.get();
  bus.reset();
  std::optional<std::string> address = addressOf();
  if (!address) return nullptr;
  GError* error = nullptr;
  bus.reset(g_dbus_connection_new_for_address_sync(
      address->c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error));
  g_clear_error(&error);
  return bus.get();
}

// As libibus finds it: <machine id>-<host, or "unix">-<display number> in ibus/bus of the configuration folder.
std::optional<std::string> DbusInputMethod::ibusAddress() const {
  if (const char* address = std::getenv("IBUS_ADDRESS"); address && *address) return address;
  const char* fromEnvironment = std::getenv("DISPLAY");
  std::string display = !displayName_.empty() ? displayName_ : fromEnvironment ? fromEnvironment : "";
  std::string host = "unix", number = "0";
  if (size_t colon = display.find(':'); colon != std::string::npos) {
    if (colon > 0) host = display.substr(0, colon);
    number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  }
  std::string machine = firstLineOf("/var/lib/dbus/machine-id");
  if (machine.empty()) machine = firstLineOf("/etc/machine-id");
  std::ifstream file(configHome_ / "ibus" / "bus" / (machine + "-" + host + "-" + number));
  constexpr std::string_view kKey = "IBUS_ADDRESS=";
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with(kKey)) return line.substr(kKey.size());
  }
  return std::nullopt;
}

std::optional<std::string> DbusInputMethod::ibusEngine() {
  GDBusConnection* bus = connected(ibus_, [this] { return ibusAddress(); });
  if (!bus) return std::nullopt;
  GVariant* reply = call(bus, "org.freedesktop.IBus", "/org/freedesktop/IBus", "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.freedesktop.IBus", "GlobalEngine"), "(v)");
  if (!reply) return std::nullopt;  // also when no engine was ever chosen
  GVariant* description = g_variant_get_child_value(reply, 0);
  while (g_variant_is_of_type(description, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(description);
    g_variant_unref(description);
    description = inner;
  }
  // A serialized IBusEngineDesc: its type's name, attachments, then the engine's name.
  std::optional<std::string> name;
  if (g_variant_is_container(description) && g_variant_n_children(description) > 2) {
    GVariant* child = g_variant_get_child_value(description, 2);
    if (g_variant_is_of_type(child, G_VARIANT_TYPE_STRING)) name = g_variant_get_string(child, nullptr);
    g_variant_unref(child);
  }
  g_variant_unref(description);
  g_variant_unref(reply);
  return name;
}

// The input method while Fcitx is active (state 2); inactive, it types with the plain layout.
std::optional<std::string> DbusInputMethod::fcitxEngine() {
  GDBusConnection* bus = connected(session_, []() -> std::optional<std::string> {
    if (!sessionBusNamed()) return std::nullopt;
    gchar* named = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!named) return std::nullopt;
    std::string address = named;
    g_free(named);
    return address;
  });
  if (!bus) return std::nullopt;
  constexpr const char* kName = "org.fcitx.Fcitx5";
  constexpr const char* kPath = "/controller";
  constexpr const char* kInterface = "org.fcitx.Fcitx.Controller1";
  GVariant* state = call(bus, kName, kPath, kInterface, "State", nullptr, "(i)");
  if (!state) return std::nullopt;
  int32_t value = 0;
  g_variant_get(state, "(i)", &value);
  g_variant_unref(state);
  if (value != 2) return std::nullopt;
  GVariant* method = call(bus, kName, kPath, kInterface, "CurrentInputMethod", nullptr, "(s)");
  if (!method) return std::nullopt;
  const gchar* name = nullptr;
  g_variant_get(method, "(&s)", &name);
  std::string result = name ? name : "";
  g_variant_unref(method);
  return result;
}

}  // namespace vistaro
