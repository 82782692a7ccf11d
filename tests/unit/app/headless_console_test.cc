#include "app/headless_console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "core/display_text.h"
#include "core/manual_executor.h"

namespace vistaro {
namespace {

class HeadlessConsoleTest : public ::testing::Test {
 protected:
  HeadlessConsoleTest() {
    state.listenerStatus = "待受中";
    state.port = 52525;
    state.pin = "012345";
    state.hasInputPermission = true;
  }
  ~HeadlessConsoleTest() override {
    std::fclose(out);
    std::free(buffer);
  }
  std::string printed() { return std::fflush(out), std::string(buffer, size); }

  ControllerState state;
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  ManualExecutor main;
  HeadlessConsole console{main, "desk", out};
};

TEST_F(HeadlessConsoleTest, PrintsTheConnectCommandOnceAPortIsKnownAndOnlyChanges) {
  ControllerState starting = state;
  starting.listenerStatus = "起動中…";
  starting.port.reset();
  EXPECT_EQ(console.render(starting), "起動中… | PIN 012345 | clients: none | idle\n");
  EXPECT_EQ(console.render(starting), "");
  const std::string shown = console.render(state);
  EXPECT_NE(shown.find("--port 52525 --pin 012345 watch\n"), std::string::npos);
  EXPECT_NE(shown.find("待受中 :52525 | PIN 012345"), std::string::npos);
  state.clientNames = {"A", "B"};
  state.capturing = true;
  state.lastError = "gone";
  state.failedPinAttempts = 7;
  state.failedPinAddress = "192.0.2.9";
  EXPECT_EQ(console.render(state), R"(待受中 :52525 | PIN 012345 | clients: "A", "B" | capturing | )"
                                   "7 failed PIN attempts, the latest from 192.0.2.9 | last error: gone\n");
  // Hostile names, as the controller passes them on: still one short line.
  state.clientNames.assign(200, displayableText("\x1b[2J\n待受中 | PIN 000000\r\u202e" + std::string(1 << 20, 'n')));
  const std::string line = console.render(state);
  EXPECT_EQ(std::tuple(line.find('\n'), line.find_first_of("\x1b\r"), line.size() < 600),
            std::tuple(line.size() - 1, std::string::npos, true));
  EXPECT_NE(line.find(R"(", "[2J待受中 | PIN 000000nnn)"), std::string::npos) << line;
  EXPECT_NE(line.find("and 195 more"), std::string::npos);
}

TEST_F(HeadlessConsoleTest, ABurstOfChangesPrintsAFewTimesASecondAndEndsOnTheLatest) {
  for (uint64_t i = 1; i <= 1000; ++i) {
    state.failedPinAttempts = i;
    console.show(state);
    main.advance(std::chrono::milliseconds(1));
  }
  main.advance(std::chrono::seconds(1));
  EXPECT_LE(std::ranges::count(printed(), '\n'), 2 + 5);  // the connect lines, then a status line per 250 ms
  EXPECT_NE(printed().find("1000 failed PIN attempts"), std::string::npos);
}

}  // namespace
}  // namespace vistaro
