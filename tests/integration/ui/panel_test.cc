// The panel of a live host on a private Xvfb (no tray there: a window), and the Qt main executor.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>

#include <fmt/printf.h>

#include <fstream>
#include <thread>

#include "app/desktop_actions.h"
#include "app/host.h"
#include "core/l10n.h"
#include "support/loopback_client.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"
#include "ui/desktop_panel.h"
#include "ui/qt_main_executor.h"

namespace vistaro {
namespace {

using namespace std::chrono_literals;

// Runs Qt's loop until the condition holds or the time is up.
bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds patience = testing::kPatience) {
  const auto deadline = Clock::now() + patience;
  while (!condition() && Clock::now() < deadline) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return condition();
}

// One display server and one QApplication for the whole program, as the host has them.
class PanelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static testing::XvfbServer xvfb(1280, 800);
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);  // nothing advertised outside
    initLocalization(VISTARO_BINARY_DIR "/locale");
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("panel_tests"), nullptr};
    application_ = new QApplication(argc, argv);
  }
  // Before the exit: Qt's own globals are gone by the time static objects are destroyed.
  static void TearDownTestSuite() { delete application_; }

  static inline QApplication* application_ = nullptr;
};

TEST_F(PanelTest, MainExecutorRunsTasksInOrderOnItsThreadTimersNeverEarlyCancelledOnesNever) {
  QtMainExecutor main;
  std::vector<std::string> ran;
  const TimePoint start = Clock::now();
  main.postAfter(30ms, [&] { ran.push_back(Clock::now() - start >= 30ms ? "timer" : "timer too early"); });
  main.postAfter(10ms, [&] { ran.push_back("cancelled"); }).cancel();
  main.post([&] { ran.push_back("first"); });
  std::thread([&] {
    main.post([&] { ran.push_back(main.isCurrent() ? "posted elsewhere" : "off its thread"); });
    main.postAfter(5ms, [&] { ran.push_back(main.isCurrent() ? "timer from elsewhere" : "off its thread"); });
  }).join();
  spinUntil([] { return false; }, 100ms);
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "posted elsewhere", "timer from elsewhere", "timer"}));
}

TEST_F(PanelTest, ShowsTheLiveHostsPinAndClientsAndItsSwitchesOperateIt) {
  testing::TempDir config;
  std::filesystem::create_directories(config / "vistaro-host");
  std::ofstream(config / "vistaro-host/settings.json") << R"({"pin":"318804"})";
  std::ofstream(config / "not-a-folder") << "";
  QtMainExecutor main;
  Host host(main, {.displayName = getenv("DISPLAY"), .settingsFile = config / "vistaro-host/settings.json"});
  const StatePublisher& state = host.controller().state();
  int quits = 0;
  // The autostart folder cannot be made (a file has its name): the switch must say so.
  DesktopActions actions(host.controller(), AutostartEntry(config / "not-a-folder/autostart/x.desktop"), [&] { ++quits; });
  DesktopPanel desktop(host.controller().state(), actions);
  desktop.start();
  QWidget& panel = desktop.panel();
  const auto texts = [&](const char* name) {
    std::vector<std::string> found;
    for (const QLabel* label : panel.findChildren<QLabel*>(name)) {
      if (label->isVisibleTo(&panel)) found.push_back(label->text().toStdString());
    }
    return found;
  };
  const auto button = [&](const char* name) {  // the one shown: a replaced row waits to be deleted
    for (QAbstractButton* found : panel.findChildren<QAbstractButton*>(name)) {
      if (found->isVisibleTo(&panel)) return found;
    }
    throw std::runtime_error(std::string("no button ") + name);
  };
  ASSERT_FALSE(desktop.inTray());
  EXPECT_TRUE(panel.windowTitle().contains("Vistaro"));
  ASSERT_TRUE(spinUntil([&] { return state.current().port && panel.isVisible() && !texts("display").empty(); }));
  EXPECT_EQ(std::tuple(texts("pin"), texts("noClients"), texts("display")),
            std::tuple(std::vector<std::string>{"318804"}, std::vector{localized("なし")},
                       std::vector{fmt::sprintf(localized("%s（%lld×%lld）"), "screen", 1280LL, 800LL)}));
  const qint64 idleIcon = panel.windowIcon().cacheKey();

  testing::LoopbackClient phone(*state.current().port, "318804", "Aya's phone");
  ASSERT_TRUE(spinUntil([&] { return texts("client") == std::vector<std::string>{"Aya's phone"}; }));
  EXPECT_NE(panel.windowIcon().cacheKey(), idleIcon);
  ASSERT_TRUE(spinUntil([&] { return texts("status") == std::vector{localized("配信中")}; }));
  // The README's picture.
  if (const char* file = std::getenv("VISTARO_PANEL_SCREENSHOT")) EXPECT_TRUE(panel.grab().save(file, "PNG")) << file;

  button("powerSaving")->click();
  EXPECT_TRUE(spinUntil([&] { return state.current().powerSaving; })) << state.current().lastError.value_or("");
  button("powerSaving")->click();
  EXPECT_TRUE(spinUntil([&] { return !state.current().powerSaving; }));
  button("launchAtLogin")->click();
  ASSERT_TRUE(spinUntil([&] { return !texts("error").empty(); }));
  EXPECT_TRUE(texts("error")[0].starts_with(localized("ログイン項目の設定に失敗: ")));
  EXPECT_TRUE(button("launchAtLogin")->isChecked());  // what the user chose stays
  panel.close();  // no tray to bring it back: closing is quitting
  button("quit")->click();
  EXPECT_EQ(quits, 2);
}

}  // namespace
}  // namespace vistaro
