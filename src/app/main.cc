// vistaro-host: lets a phone or tablet watch and operate this X11 desktop.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <QApplication>

#include "app/desktop_actions.h"
#include "app/host_lifecycle.h"
#include "core/asio_executor.h"
#include "core/l10n.h"
#include "platform/linux/process_limits.h"
#include "ui/desktop_panel.h"
#include "ui/qt_main_executor.h"

namespace {

constexpr char kUsage[] =
    "usage: vistaro-host [--headless] [--display NAME] [--restore-displays]\n"
    "  --headless      run with a console status view (no tray)\n"
    "  --display NAME  the X display to share (default: $DISPLAY)\n"
    "  --restore-displays  started again by the watchdog of a host that died while saving power\n";

std::string localeDirectory() {
  if (const char* dir = std::getenv("VISTARO_LOCALE_DIR"); dir && *dir) return dir;
  // Installed (PREFIX/bin/vistaro-host): PREFIX/share/locale; in the build tree: the build's own.
  std::error_code error;
  const std::filesystem::path installed =
      std::filesystem::read_symlink("/proc/self/exe", error).parent_path().parent_path() / "share" / "locale";
  if (!error && std::filesystem::is_directory(installed)) return installed.string();
  return VISTARO_DEFAULT_LOCALE_DIR;
}

int runHeadless(const vistaro::HostOptions& options) {
  vistaro::AsioExecutor main("vistaro-host", vistaro::AsioExecutor::Thread::caller);
  int status = 0;
  vistaro::HostLifecycle run(main, options, stdout, [&](int code) {
    status = code;
    main.stop();
  });
  main.post([&run] { run.start(); });
  main.run();
  return status;
}

// Qt's loop drives the main executor: the panel and the controller share the one thread.
int runWithPanel(int argc, char** argv, vistaro::HostOptions options) {
  // The panel goes where the shared desktop is.
  if (!options.displayName.empty()) setenv("DISPLAY", options.displayName.c_str(), 1);
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::fputs("vistaro-host: no X display to show the panel on (set DISPLAY, or use --headless)\n", stderr);
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vistaro-host"));
  QApplication::setApplicationDisplayName(QStringLiteral("Vistaro Host"));
  QApplication::setDesktopFileName(QStringLiteral("vistaro-host"));
  // Closing the panel's window quits through the same cleanup as a signal, never around it.
  QApplication::setQuitOnLastWindowClosed(false);
  vistaro::QtMainExecutor main;
  vistaro::HostLifecycle run(main, options, stdout, [](int code) { QApplication::exit(code); });
  std::unique_ptr<vistaro::DesktopActions> actions;
  std::unique_ptr<vistaro::DesktopPanel> panel;
  main.post([&] {
    if (!run.start()) return;
    actions = std::make_unique<vistaro::DesktopActions>(run.host().controller(), vistaro::AutostartEntry(),
                                                        [&run] { run.end("quit"); });
    panel = std::make_unique<vistaro::DesktopPanel>(run.host().controller().state(), *actions);
    panel->start();
  });
  const int status = QApplication::exec();
  panel.reset();
  actions.reset();
  return status;
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

  vistaro::initLocalization(localeDirectory());
  std::signal(SIGPIPE, SIG_IGN);
  vistaro::raiseOpenFileLimit();
  return headless ? runHeadless(options) : runWithPanel(argc, argv, options);
}
