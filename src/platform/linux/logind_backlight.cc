#include "platform/linux/logind_backlight.h"

#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <utility>

#include "core/log.h"

namespace vistaro {
namespace {

std::optional<uint64_t> readNumber(const std::filesystem::path& file) {
  std::ifstream in(file);
  uint64_t value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

int preference(const std::filesystem::path& device) {
  std::ifstream in(device / "type");
  std::string type;
  in >> type;
  if (type == "firmware") return 0;
  if (type == "platform") return 1;
  return 2;
}

}  // namespace

std::optional<LogindBacklight> LogindBacklight::find(const std::filesystem::path& root) {
  std::error_code error;
  std::optional<std::filesystem::path> best;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    const std::optional<uint64_t> maximum = readNumber(entry.path() / "max_brightness");
    if (!maximum || *maximum == 0 || *maximum > UINT32_MAX) continue;
    if (!best || preference(entry.path()) < preference(*best)) best = entry.path();
  }
  if (!best) return std::nullopt;
  return LogindBacklight(*best, static_cast<uint32_t>(*readNumber(*best / "max_brightness")));
}

std::optional<float> LogindBacklight::level() const {
  const std::optional<uint64_t> value = readNumber(device_ / "brightness");
  if (!value) return std::nullopt;
  return std::min(1.0f, static_cast<float>(*value) / static_cast<float>(maximum_));
}

void LogindBacklight::setLevel(float level) {
  const auto value = static_cast<uint32_t>(std::lround(std::clamp(level, 0.0f, 1.0f) * maximum_));
  GError* error = nullptr;
  std::unique_ptr<GDBusConnection, void (*)(void*)> bus(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error), g_object_unref);
  GVariant* reply = nullptr;
  if (bus) {
    reply = g_dbus_connection_call_sync(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1/session/auto",
                                        "org.freedesktop.login1.Session", "SetBrightness",
                                        g_variant_new("(ssu)", "backlight", device_.filename().c_str(), value), nullptr,
                                        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &error);
  }
  if (reply) g_variant_unref(reply);
  if (error) {
    // Once: a host outside a logind session (a bare systemd user unit) cannot change it at all.
    if (!std::exchange(warned_, true)) logWarning("power", "the backlight cannot be set: {}", error->message);
    g_error_free(error);
  }
}

}  // namespace vistaro
