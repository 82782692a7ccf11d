#include <gtest/gtest.h>

#include <cstdio>

#include "app/headless_console.h"
#include "core/display_text.h"
#include "core/manual_executor.h"

namespace vistaro {
namespace {

using namespace std::chrono_literals;

ControllerState listening() {
  ControllerState state;
  state.listenerStatus = "待受中";
  state.port = 52525;
  state.pin = "012345";
  state.hasInputPermission = true;
  return state;
}

TEST(HeadlessConsole, PrintsTheConnectCommandOnceAPortIsKnownAndOnlyChanges) {
  ManualExecutor main;
  HeadlessConsole console(main, "desk", stdout);
  ControllerState state;
  state.listenerStatus = "起動中…";
  state.pin = "012345";
  state.hasInputPermission = true;
  EXPECT_EQ(console.render(state), "起動中… | PIN 012345 | clients: none | idle\n");
  EXPECT_EQ(console.render(state), "");

  state = listening();
  const std::string shown = console.render(state);
  EXPECT_NE(shown.find("--port 52525 --pin 012345"), std::string::npos);
  EXPECT_NE(shown.find("待受中 :52525 | PIN 012345"), std::string::npos);

  state.clientNames = {"A", "B"};
  state.capturing = true;
  state.lastError = "gone";
  state.failedPinAttempts = 7;
  state.failedPinAddress = "192.0.2.9";
  EXPECT_EQ(console.render(state),
            R"(待受中 :52525 | PIN 012345 | clients: "A", "B" | capturing | 7 failed PIN attempts, the latest from )"
            "192.0.2.9 | last error: gone\n");
}

TEST(HeadlessConsole, HostileNamesStayOnOneShortLine) {
  ManualExecutor main;
  HeadlessConsole console(main, "desk", stdout);
  console.render(listening());
  ControllerState state = listening();
  const std::string hostile = "\x1b[2J\x1b]0;pwned\x07" + std::string(1 << 20, 'n') + "\n待受中 | PIN 000000\r\u202e";
  for (int i = 0; i < 200; ++i) state.clientNames.push_back(displayableText(hostile));
  const std::string line = console.render(state);
  EXPECT_EQ(line.find('\x1b'), std::string::npos);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(line.find("\u202e"), std::string::npos);
  EXPECT_NE(line.find("and 195 more"), std::string::npos);
  EXPECT_LT(line.size(), 600u);
}

TEST(HeadlessConsole, ABurstOfChangesPrintsAFewTimesASecondAndEndsOnTheLatest) {
  ManualExecutor main;
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  {
    HeadlessConsole console(main, "desk", out);
    ControllerState state = listening();
    for (int i = 0; i < 1000; ++i) {
      state.failedPinAttempts = static_cast<uint64_t>(i + 1);
      console.show(state);
      main.advance(1ms);
    }
    main.advance(1s);
  }
  std::fclose(out);
  const std::string printed(buffer, size);
  free(buffer);
  const auto lines = std::count(printed.begin(), printed.end(), '\n');
  EXPECT_LE(lines, 2 + 5);  // the connect lines, then at most one status line per 250 ms
  EXPECT_NE(printed.find("1000 failed PIN attempts"), std::string::npos);
}

}  // namespace
}  // namespace vistaro
