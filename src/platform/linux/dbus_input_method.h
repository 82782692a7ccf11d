#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "input/input_method.h"

typedef struct _GDBusConnection GDBusConnection;

namespace vistaro {

// Asks the input method frameworks over D-Bus which engine is active: IBus on its own bus
// (found as its clients find it: IBUS_ADDRESS, else the address file its daemon writes for
// the display), and Fcitx 5 on the session bus (never started for the asking). IBus "xkb:"
// and Fcitx "keyboard-" engines are plain layouts. Each question waits kCallTimeoutMs at
// most; a bus is kept until it closes. Use it from one thread.
class DbusInputMethod final : public InputMethod {
 public:
  // configHome: where IBus keeps its address files; empty: $XDG_CONFIG_HOME, or ~/.config.
  explicit DbusInputMethod(std::string displayName = {}, std::filesystem::path configHome = {});
  ~DbusInputMethod() override;
  DbusInputMethod(const DbusInputMethod&) = delete;
  DbusInputMethod& operator=(const DbusInputMethod&) = delete;

  bool convertsKeys() override;

  static constexpr int kCallTimeoutMs = 100;

 private:
  struct Close {
    void operator()(GDBusConnection* bus) const;
  };
  using Bus = std::unique_ptr<GDBusConnection, Close>;

  std::optional<std::string> ibusEngine();
  std::optional<std::string> fcitxEngine();
  std::optional<std::string> ibusAddress() const;
  // The kept bus, or a new one to the address when there is none or it closed.
  static GDBusConnection* connected(Bus& bus, const std::function<std::optional<std::string>()>& addressOf);

  std::string displayName_;
  std::filesystem::path configHome_;
  Bus ibus_;
  Bus session_;
};

}  // namespace vistaro
