// The login item's autostart entry and the termination signals.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "app/termination_signals.h"
#include "core/asio_executor.h"
#include "platform/linux/autostart_entry.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/threads.h"

namespace vistaro {
namespace {

TEST(AutostartEntry, IsWrittenWholeWithEveryArgumentQuotedAndRemovedAgain) {
  testing::TempDir dir;
  const AutostartEntry entry(dir / "autostart/vistaro-host.desktop");
  EXPECT_FALSE(entry.exists());
  EXPECT_EQ(entry.set(false, {}), std::nullopt);  // nothing there to remove is no failure
  ASSERT_EQ(entry.set(true, {"/opt/my apps/vistaro-host", "100%", "say \"$HOME\"", "a\\b"}), std::nullopt);
  EXPECT_TRUE(entry.exists());
  std::stringstream text;
  text << std::ifstream(dir / "autostart/vistaro-host.desktop").rdbuf();
  EXPECT_NE(text.str().find("\nExec=\"/opt/my apps/vistaro-host\" \"100%%\" \"say \\\\\"\\\\$HOME\\\\\"\" \"a\\\\\\\\b\"\n"), std::string::npos)
      << text.str();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "autostart"), {}), 1);  // no temp file left
  EXPECT_EQ(testing::ChildProcess::run({"desktop-file-validate", (dir / "autostart/vistaro-host.desktop").string()}), 0);
  EXPECT_EQ(entry.set(false, {}), std::nullopt);
  EXPECT_FALSE(entry.exists());
}

TEST(AutostartEntry, FailuresAreReportedNotPretendedAway) {
  testing::TempDir dir;
  std::ofstream(dir / "autostart") << "a file where the folder should be";
  EXPECT_TRUE(AutostartEntry(dir / "autostart/vistaro-host.desktop").set(true, {"/usr/bin/vistaro-host"}));
  EXPECT_TRUE(AutostartEntry(dir / "entry.desktop").set(true, {"/usr/bin/vistaro-host\n--headless"}));
  EXPECT_FALSE(std::filesystem::exists(dir / "entry.desktop"));
}

TEST(TerminationSignals, EachSignalArrivesOnTheMainExecutorAndNoneAfterItsEnd) {
  AsioExecutor main("main");
  testing::Mailbox<std::pair<int, bool>> arrived;  // the number, and whether it came on `main`
  {
    TerminationSignals signals(main, [&](int number) { arrived.put({number, main.isCurrent()}); });
    for (const int number : TerminationSignals::kSignals) {
      ASSERT_EQ(raise(number), 0);
      EXPECT_EQ(arrived.take(), std::pair(number, true));
    }
  }
  // The default disposition is back: a signal now would end the test process.
  EXPECT_EQ(std::signal(SIGHUP, SIG_DFL), SIG_DFL);
}

}  // namespace
}  // namespace vistaro
