#include "wire/messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "wire/message_type.h"

namespace vistaro {
namespace {

Bytes body(std::string_view text) { return Bytes(text.begin(), text.end()); }
template <typename Message>
bool decodes(std::string_view text) {
  return decodeMessage<Message>(body(text)).has_value();
}
template <typename Message>
nlohmann::json encoded(const Message& message) {
  return nlohmann::json::parse(encodeMessage(message).value());
}

TEST(MessageTypes, OnlyTheTwelveAssignedCodesMapAndRoundTrip) {
  int assigned = 0;
  for (int code = 0; code < 256; ++code) {
    if (const auto type = messageTypeFromCode(static_cast<uint8_t>(code))) {
      ++assigned;
      EXPECT_EQ(wireCode(*type), code);
    }
  }
  EXPECT_EQ(assigned, 12);
  EXPECT_FALSE(messageTypeFromCode(9));
}

TEST(MessageDecoding, RequiredFieldsTypesAndRanges) {
  const std::string hello = R"({"pin":"1","name":"P",)";
  const std::string input = R"(,"x":0.25,"y":1,"clickCount":2,"displayID":1})";
  const std::string request = R"({"detailMaxW":1,"detailMaxH":2,"baseMaxW":3)";
  struct Case {
    bool (*decode)(std::string_view);
    std::string text;
    bool valid;
  };
  const std::vector<Case> cases = {
      {decodes<HelloMessage>, hello + R"("version":1})", true},
      {decodes<HelloMessage>, hello + R"("version":2.0,"features":["patch"]})", true},  // any standard JSON
      {decodes<HelloMessage>, R"({"pin":"1","name":"P"})", false},
      {decodes<HelloMessage>, R"({"pin":123456,"name":"P","version":1})", false},
      {decodes<HelloMessage>, hello + R"("version":2.5})", false},
      {decodes<HelloMessage>, hello + R"("version":1,"features":[1]})", false},
      {decodes<SelectDisplayMessage>, R"({"id":4294967295})", true},
      {decodes<SelectDisplayMessage>, R"({"id":-1})", false},
      {decodes<SelectDisplayMessage>, R"({"id":4294967296})", false},
      {decodes<RequestMessage>, request + "}", true},
      {decodes<RequestMessage>, request + R"(,"viewport":[0.1,0.2,0.5],"full":true})", true},
      {decodes<RequestMessage>, request + R"(,"full":1})", false},
      {decodes<InputMessage>, R"({"kind":"scroll","scrollY":-40,"scrollBegan":true)" + input, true},
      {decodes<InputMessage>, R"({"kind":"rightClick")" + input, true},
      {decodes<InputMessage>, R"({"kind":"Click")" + input, false},
      {decodes<KeyMessage>, R"({"text":"hi","modifiers":[]})", true},
      {decodes<KeyMessage>, R"({"text":"hi"})", false},
      {decodes<HeadlessMessage>, " {\"enabled\":false}\n", true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.decode(c.text), c.valid) << c.text;

  // Malformed and hostile JSON in general is the fuzz target's; these are the ones a peer sends by accident.
  for (std::string_view text : {"", "[]", "{\"enabled\":true} trailing"}) EXPECT_FALSE(decodes<HeadlessMessage>(text));
}

TEST(MessageEncoding, OptionalsLeftOutNonFiniteFailsBadTextReplaced) {
  WelcomeMessage welcome{.hostName = "desk", .displays = {{4294967295u, "外部", 1920, 1080}}, .current = 1};
  welcome.directID = "0123456789abcdef0123456789abcdef";
  const auto json = encoded(welcome);
  for (const char* absent : {"relayRoom", "headless", "fit"}) EXPECT_FALSE(json.contains(absent)) << absent;
  EXPECT_EQ(json["displays"][0]["id"], 4294967295u);
  EXPECT_EQ(decodeMessage<WelcomeMessage>(*encodeMessage(welcome)), welcome);

  FrameHeader header{.seq = std::numeric_limits<uint64_t>::max(), .displayID = 2, .baseLen = 1234};
  EXPECT_FALSE(encoded(header).contains("partial"));
  header.partial = true;
  header.detailRect = std::array<double, 4>{0.1, 0.2, 0.3, 0.4};
  header.basePatches = std::vector<PatchInfo>{{0, 64, 128, 64, 900}};
  EXPECT_EQ(encoded(header)["partial"], true);
  EXPECT_EQ(decodeMessage<FrameHeader>(*encodeMessage(header)), header);
  header.detailRect = std::array<double, 4>{0, 0, std::nan(""), 1};
  EXPECT_FALSE(encodeMessage(header));

  const auto error = decodeMessage<ErrorMessage>(*encodeMessage(ErrorMessage{"notice", "bad \xC3\x28 text"}));
  EXPECT_EQ(error->message, "bad \xEF\xBF\xBD( text");
}

}  // namespace
}  // namespace vistaro
