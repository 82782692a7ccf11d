#include "app/headless_console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "core/manual_executor.h"

namespace vistaro {
namespace {

// The host process tests read the connect command and the plain status line; the names come
// already made safe by the controller.
class HeadlessConsoleTest : public ::testing::Test {
 protected:
  ~HeadlessConsoleTest() override { std::fclose(out), std::free(buffer); }
  std::string printed() { return std::fflush(out), std::string(buffer, size); }

  ControllerState state{.pin = "012345", .hasInputPermission = true, .listenerStatus = "待受中", .port = 52525};
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  ManualExecutor main;
  HeadlessConsole console{main, "desk", out};
};

TEST_F(HeadlessConsoleTest, PrintsTheConnectCommandOnceAPortIsKnownAndOnlyChanges) {
  ControllerState starting = state;
  starting.port.reset();
  EXPECT_EQ(console.render(starting), "待受中 | PIN 012345 | clients: none | idle\n");
  EXPECT_EQ(console.render(starting), "");
  EXPECT_NE(console.render(state).find("--port 52525 --pin 012345 watch\n待受中 :52525 | PIN 012345"), std::string::npos);
  const ControllerState busy{.pin = "012345", .clientNames = std::vector<std::string>(200, "n"), .hasInputPermission = true,
                             .listenerStatus = "待受中", .port = 52525, .capturing = true, .lastError = "gone",
                             .failedPinAttempts = 7, .failedPinAddress = "192.0.2.9", .powerSaving = true};
  EXPECT_EQ(console.render(busy), R"(待受中 :52525 | PIN 012345 | clients: "n", "n", "n", "n", "n" and 195 more | )"
                                   "capturing | power saving: screens dark | 7 failed PIN attempts, the latest from 192.0.2.9 | last error: gone\n");
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
