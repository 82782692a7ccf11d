#include <fmt/format.h>

#include <chrono>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;

const std::string kInputError =
    R"({"code":"input","message":"Macで「アクセシビリティ」の許可が必要です（Vistaro Host をオン）"})";
const std::string kRequest = R"({"detailMaxW":800,"detailMaxH":600,"baseMaxW":1200})";

std::string click(const char* kind, double x, int display = 1) {
  return fmt::format(R"({{"kind":"{}","x":{},"y":0.5,"clickCount":1,"displayID":{}}})", kind, x, display);
}

class StreamHubDispatchTest : public HubFixture {
 protected:
  StreamHubDispatchTest() {
    hub->onSelectDisplay = [this](DisplayID id) { selected.push_back(id); };
    hub->onSetHeadless = [this](bool on) { headless.push_back(on); };
    hub->onSetFit = [this](bool on) { fit.push_back(on); };
    hub->onClientDisplay = [this](const ClientDisplayMessage& m) { screens.push_back(m); };
  }

  void sendEveryClientType(MemoryStream& stream) {
    send(stream, MessageType::request, kRequest);
    send(stream, MessageType::selectDisplay, R"({"id":7})");
    send(stream, MessageType::input, click("scroll", 0.1));
    send(stream, MessageType::key, R"({"text":"a","modifiers":[]})");
    send(stream, MessageType::setHeadless, R"({"enabled":true})");
    send(stream, MessageType::clientDisplay, R"({"pixelW":1170,"pixelH":2532,"textSize":"large","fillWindow":true})");
    send(stream, MessageType::setFit, R"({"enabled":false})");
    mainQueue.runUntilIdle();
  }

  std::vector<DisplayID> selected;
  std::vector<bool> headless;
  std::vector<bool> fit;
  std::vector<ClientDisplayMessage> screens;
};

TEST_F(StreamHubDispatchTest, MessagesBeforeAuthenticationAreIgnored) {
  auto stream = connect();
  sendEveryClientType(*stream);
  EXPECT_TRUE(selected.empty() && headless.empty() && fit.empty() && screens.empty());
  EXPECT_TRUE(injected.empty() && typed.empty());
  EXPECT_EQ(onlyClient().credits, 0);
  EXPECT_FALSE(onlyClient().pending.has_value());
  EXPECT_FALSE(stream->cancelled());
  EXPECT_TRUE(receivedBy(*stream).empty());
}

TEST_F(StreamHubDispatchTest, EveryClientTypeReachesItsHandlerOnceAuthenticated) {
  auto stream = connectAuthed("Phone");
  sendEveryClientType(*stream);
  EXPECT_EQ(selected, std::vector<DisplayID>{7});
  EXPECT_EQ(headless, std::vector<bool>{true});
  EXPECT_EQ(fit, std::vector<bool>{false});
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].pixelH, 2532);
  ASSERT_EQ(injected.size(), 1u);
  EXPECT_EQ(injected[0].kind, InputMessage::Kind::scroll);
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].text, "a");
  EXPECT_EQ(onlyClient().credits, 1);
}

TEST_F(StreamHubDispatchTest, UndecodableBodiesAndHostTypesAreIgnoredAndTheConnectionStays) {
  auto stream = connectAuthed("Phone");
  send(*stream, MessageType::selectDisplay, R"({"id":-1})");
  send(*stream, MessageType::selectDisplay, R"({"id":4294967296})");
  send(*stream, MessageType::input, R"({"kind":"drag","x":0,"y":0,"clickCount":1,"displayID":1})");
  send(*stream, MessageType::key, R"({"text":"a"})");
  send(*stream, MessageType::request, "not json");
  send(*stream, MessageType::setFit, "");
  send(*stream, MessageType::welcome, R"({"hostName":"x","displays":[],"current":1})");
  send(*stream, MessageType::focus, R"({"editable":true})");
  mainQueue.runUntilIdle();
  EXPECT_TRUE(selected.empty() && fit.empty() && injected.empty() && typed.empty());
  EXPECT_EQ(onlyClient().credits, 0);
  EXPECT_FALSE(stream->cancelled());
  EXPECT_TRUE(receivedBy(*stream).empty());
}

TEST_F(StreamHubDispatchTest, RequestsStoreTheLatestAndCapCreditsAtTwo) {
  auto stream = connectAuthed("Phone");
  for (int i = 0; i < 3; ++i) send(*stream, MessageType::request, kRequest);
  EXPECT_EQ(onlyClient().credits, 2);
  send(*stream, MessageType::request, R"({"detailMaxW":1,"detailMaxH":2,"baseMaxW":3,"viewport":[0,0,1,1]})");
  EXPECT_EQ(onlyClient().pending->baseMaxW, 3);
  EXPECT_EQ(onlyClient().credits, 2);
}

TEST_F(StreamHubDispatchTest, FullRequestForgetsWhatTheClientHolds) {
  auto stream = connectAuthed("Phone", "patch");
  auto& client = *hub->clientRecords().begin()->second;
  client.base.lastKey = "1-1200-100x100";
  client.detail.lastKey = "detail";
  client.base.dirty = std::vector<Rect>{};
  client.detail.dirty = std::vector<Rect>{{1, 2, 3, 4}};
  send(*stream, MessageType::request, kRequest);
  EXPECT_EQ(client.base.lastKey, "1-1200-100x100");
  send(*stream, MessageType::request, R"({"detailMaxW":800,"detailMaxH":600,"baseMaxW":1200,"full":true})");
  EXPECT_EQ(client.base.lastKey, "");
  EXPECT_EQ(client.detail.lastKey, "");
  EXPECT_FALSE(client.base.dirty.has_value());
  EXPECT_FALSE(client.detail.dirty.has_value());
}

TEST_F(StreamHubDispatchTest, WithoutTrustPointerAndKeysGetTheInputErrorAndNoEffect) {
  auto stream = connectAuthed("Phone");
  trusted = false;
  send(*stream, MessageType::input, click("click", 0.5));
  send(*stream, MessageType::key, R"({"key":"return","modifiers":["cmd"]})");
  mainQueue.runUntilIdle();
  EXPECT_TRUE(injected.empty());
  EXPECT_TRUE(typed.empty());
  EXPECT_TRUE(focusChecks.empty());
  EXPECT_EQ(permissionPrompts, 2);
  const auto received = receivedBy(*stream);
  ASSERT_EQ(received.size(), 2u);
  for (const auto& message : received) {
    EXPECT_EQ(message.type, MessageType::error);
    EXPECT_EQ(message.body, kInputError);
  }
  EXPECT_FALSE(stream->cancelled());
}

TEST_F(StreamHubDispatchTest, KeysAreTypedOnTheMainQueueWithoutWaiting) {
  auto stream = connectAuthed("Phone");
  send(*stream, MessageType::key, R"({"backspaces":2,"text":"日本","modifiers":[]})");
  EXPECT_TRUE(typed.empty());
  mainQueue.runUntilIdle();
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].backspaces, 2);
}

TEST_F(StreamHubDispatchTest, OnlyTheNewestClickGetsItsFocusAnswer) {
  auto stream = connectAuthed("Phone");
  send(*stream, MessageType::input, click("click", 0.25));
  send(*stream, MessageType::input, click("click", 0.75));
  send(*stream, MessageType::input, click("rightClick", 0.5));
  send(*stream, MessageType::input, click("click", 0.5, 2));  // display without a point
  ASSERT_EQ(focusChecks.size(), 2u);
  EXPECT_EQ(focusChecks[0].first, (Point{250, 250}));
  EXPECT_EQ(focusChecks[1].first, (Point{750, 250}));
  EXPECT_EQ(injected.size(), 4u);

  // Answers may come back on any thread and in any order.
  focusChecks[1].second(true);
  focusChecks[0].second(false);
  queue.runUntilIdle();
  const auto received = receivedBy(*stream);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].type, MessageType::focus);
  EXPECT_EQ(received[0].body, R"({"editable":true})");
}

TEST_F(StreamHubDispatchTest, FocusAnswerForAGoneClientOrHubIsDropped) {
  auto stream = connectAuthed("Phone");
  send(*stream, MessageType::input, click("click", 0.5));
  stream->injectEndOfStream();
  queue.runUntilIdle();
  focusChecks[0].second(true);
  queue.runUntilIdle();
  EXPECT_TRUE(receivedBy(*stream).empty());

  auto other = connectAuthed("Tablet");
  send(*other, MessageType::input, click("click", 0.5));
  hub.reset();
  focusChecks[1].second(true);
  queue.runUntilIdle();
  EXPECT_TRUE(receivedBy(*other).empty());
}

TEST_F(StreamHubDispatchTest, BrokenFramingEndsOnlyThatConnection) {
  auto good = connectAuthed("Good");
  auto bad = connectAuthed("Bad");
  bad->injectBytes({0, 0, 0, 5, 9});
  queue.runUntilIdle();
  EXPECT_EQ(hub->clientRecords().size(), 1u);
  EXPECT_EQ(reportedNames.back(), std::vector<std::string>{"Good"});
  send(*good, MessageType::selectDisplay, R"({"id":3})");
  EXPECT_EQ(selected, std::vector<DisplayID>{3});
}

}  // namespace
}  // namespace vistaro::testing
