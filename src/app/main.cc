// vistaro-host: lets a phone or tablet watch and operate this X11 desktop.
#include <asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "app/headless_console.h"
#include "app/host.h"
#include "core/l10n.h"
#include "platform/linux/process_limits.h"

namespace {

constexpr char kUsage[] =
    "usage: vistaro-host [--headless] [--display NAME] [--restore-displays]\n"
    "  --headless      run with a console status view (no tray)\n"
    "  --display NAME  the X display to share (default: $DISPLAY)\n"
    "  --restore-displays  started again by the watchdog of a host that died while saving power\n";

std::string localeDirectory() {
  if (const char* dir = std::getenv("VISTARO_LOCALE_DIR"); dir && *dir) return dir;
  return VISTARO_DEFAULT_LOCALE_DIR;
}

}  // namespace

int main(int argc, char** argv) {
  vistaro::HostOptions options;
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--headless") {
      headless = true;
    } else if (argument == "--restore-displays") {
      // Every start restores what a dead host left dark; the flag only says who started this one.
    } else if (argument == "--display" && i + 1 < argc) {
      options.displayName = argv[++i];
    } else {
      std::fputs(kUsage, argument == "--help" ? stdout : stderr);
      return argument == "--help" ? 0 : 2;
    }
  }
  if (!headless) std::fputs("vistaro-host: the tray panel is not built yet; showing the console status view\n", stdout);

  vistaro::initLocalization(localeDirectory());
  std::signal(SIGPIPE, SIG_IGN);
  vistaro::raiseOpenFileLimit();

  vistaro::AsioExecutor main("vistaro-host", vistaro::AsioExecutor::Thread::caller);
  asio::signal_set signals(main.context(), SIGINT, SIGTERM, SIGHUP);
  signals.async_wait([&main](const std::error_code& error, int) {
    if (!error) main.stop();
  });

  std::unique_ptr<vistaro::Host> host;
  std::unique_ptr<vistaro::HeadlessConsole> console;
  int status = 0;
  main.post([&] {
    try {
      host = std::make_unique<vistaro::Host>(main, options);
    } catch (const std::runtime_error& error) {
      std::fprintf(stderr, "vistaro-host: %s\n", error.what());
      status = 1;
      main.stop();
      return;
    }
    console = std::make_unique<vistaro::HeadlessConsole>(main, host->controller().hostName(), stdout);
    console->show(host->controller().state().current());
    host->controller().state().observe([&console](const vistaro::ControllerState& state) { console->show(state); });
  });
  main.run();
  console.reset();
  host.reset();
  return status;
}
