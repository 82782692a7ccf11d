#include <gtest/gtest.h>

#include "app/headless_console.h"

namespace vistaro {
namespace {

TEST(HeadlessConsole, PrintsTheConnectCommandOnceAPortIsKnownAndOnlyChanges) {
  HeadlessConsole console("desk", stdout);
  ControllerState state;
  state.listenerStatus = "起動中…";
  state.pin = "012345";
  state.hasInputPermission = true;
  EXPECT_EQ(console.render(state), "起動中… | PIN 012345 | clients: none | idle\n");
  EXPECT_EQ(console.render(state), "");

  state.listenerStatus = "待受中";
  state.port = 52525;
  const std::string shown = console.render(state);
  EXPECT_NE(shown.find("--port 52525 --pin 012345"), std::string::npos);
  EXPECT_NE(shown.find("待受中 :52525 | PIN 012345"), std::string::npos);

  state.clientNames = {"A", "B"};
  state.capturing = true;
  state.lastError = "gone";
  EXPECT_EQ(console.render(state), "待受中 :52525 | PIN 012345 | clients: A, B | capturing | last error: gone\n");
}

}  // namespace
}  // namespace vistaro
