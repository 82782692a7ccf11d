#include "server/messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "server/message_type.h"

namespace vistaro {
namespace {

Bytes body(std::string_view text) { return Bytes(text.begin(), text.end()); }

template <typename Message>
nlohmann::json encodedJson(const Message& message) {
  const std::optional<Bytes> bytes = encodeMessage(message);
  EXPECT_TRUE(bytes.has_value());
  return bytes ? nlohmann::json::parse(*bytes) : nlohmann::json();
}

TEST(MessageTypeTest, OnlyAssignedCodesMapAndRoundTrip) {
  int assigned = 0;
  for (int code = 0; code < 256; ++code) {
    const auto type = messageTypeFromCode(static_cast<uint8_t>(code));
    if (!type) continue;
    ++assigned;
    EXPECT_EQ(wireCode(*type), code);
  }
  EXPECT_EQ(assigned, 12);
  EXPECT_FALSE(messageTypeFromCode(9));
  EXPECT_FALSE(messageTypeFromCode(14));
}

TEST(HelloDecodeTest, RequiredAndOptionalFields) {
  auto hello = decodeMessage<HelloMessage>(body(R"({"pin":"123456","name":"Phone","version":1})"));
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->pin, "123456");
  EXPECT_FALSE(hello->features);

  hello = decodeMessage<HelloMessage>(body(R"({"pin":"1","name":"P","version":1,"features":null})"));
  ASSERT_TRUE(hello);
  EXPECT_FALSE(hello->features);

  hello = decodeMessage<HelloMessage>(body(R"({"name":"P","features":["patch"],"version":2,"pin":"1","x":{}})"));
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->features, std::vector<std::string>{"patch"});

  EXPECT_FALSE(decodeMessage<HelloMessage>(body(R"({"pin":"123456","name":"Phone"})")));
  EXPECT_FALSE(decodeMessage<HelloMessage>(body(R"({"pin":123456,"name":"Phone","version":1})")));
  EXPECT_FALSE(decodeMessage<HelloMessage>(body(R"({"pin":"1","name":"P","version":"1"})")));
  EXPECT_FALSE(decodeMessage<HelloMessage>(body(R"({"pin":"1","name":"P","version":1,"features":[1]})")));
  EXPECT_FALSE(decodeMessage<HelloMessage>(body(R"({"pin":"1","name":null,"version":1})")));
}

TEST(IntegerDecodeTest, IntegralNumbersInRange) {
  auto version = [](std::string_view value) -> std::optional<int64_t> {
    const std::string text = R"({"pin":"1","name":"P","version":)" + std::string(value) + "}";
    const auto hello = decodeMessage<HelloMessage>(body(text));
    return hello ? std::optional(hello->version) : std::nullopt;
  };
  EXPECT_EQ(version("-7"), -7);
  EXPECT_EQ(version("2.0"), 2);
  EXPECT_EQ(version("1e3"), 1000);
  EXPECT_EQ(version("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(version("-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_FALSE(version("9223372036854775808"));
  EXPECT_FALSE(version("9.3e18"));
  EXPECT_FALSE(version("2.5"));
  EXPECT_FALSE(version("true"));
}

TEST(DisplayIdDecodeTest, UnsignedThirtyTwoBit) {
  auto id = [](std::string_view value) -> std::optional<DisplayID> {
    const auto select = decodeMessage<SelectDisplayMessage>(body(R"({"id":)" + std::string(value) + "}"));
    return select ? std::optional(select->id) : std::nullopt;
  };
  EXPECT_EQ(id("0"), 0u);
  EXPECT_EQ(id("4294967295"), 4294967295u);
  EXPECT_EQ(id("69734272.0"), 69734272u);
  EXPECT_FALSE(id("-1"));
  EXPECT_FALSE(id("4294967296"));
  EXPECT_FALSE(id("4294967296.0"));
  EXPECT_FALSE(id("1.5"));
  EXPECT_FALSE(id(R"("1")"));
  EXPECT_FALSE(id("null"));
}

TEST(RequestDecodeTest, ViewportAndFullAreOptional) {
  auto request = decodeMessage<RequestMessage>(body(R"({"detailMaxW":800,"detailMaxH":600,"baseMaxW":1024})"));
  ASSERT_TRUE(request);
  EXPECT_FALSE(request->viewport);
  EXPECT_FALSE(request->full);

  request = decodeMessage<RequestMessage>(
      body(R"({"viewport":[0.1,0.2,0.5],"detailMaxW":1,"detailMaxH":2,"baseMaxW":3,"full":true})"));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->viewport, (std::vector<double>{0.1, 0.2, 0.5}));
  EXPECT_EQ(request->full, true);

  EXPECT_FALSE(decodeMessage<RequestMessage>(body(R"({"viewport":[0,"a"],"detailMaxW":1,"detailMaxH":2,"baseMaxW":3})")));
  EXPECT_FALSE(decodeMessage<RequestMessage>(body(R"({"detailMaxW":1,"detailMaxH":2,"baseMaxW":3,"full":1})")));
}

TEST(InputDecodeTest, KindMustBeOneOfThreeNames) {
  const std::string rest = R"(,"x":0.25,"y":1,"clickCount":2,"displayID":1})";
  const auto scroll = decodeMessage<InputMessage>(body(R"({"kind":"scroll","scrollY":-40,"scrollBegan":true)" + rest));
  ASSERT_TRUE(scroll);
  EXPECT_EQ(scroll->kind, InputMessage::Kind::scroll);
  EXPECT_EQ(scroll->scrollY, -40);
  EXPECT_FALSE(scroll->scrollX);
  EXPECT_DOUBLE_EQ(scroll->y, 1.0);

  EXPECT_EQ(decodeMessage<InputMessage>(body(R"({"kind":"rightClick")" + rest))->kind, InputMessage::Kind::rightClick);
  EXPECT_FALSE(decodeMessage<InputMessage>(body(R"({"kind":"Click")" + rest)));
  EXPECT_FALSE(decodeMessage<InputMessage>(body(R"({"kind":"drag")" + rest)));
  EXPECT_FALSE(decodeMessage<InputMessage>(body(R"({"kind":1)" + rest)));
}

TEST(KeyDecodeTest, ModifiersKeyIsRequiredButMayBeEmpty) {
  EXPECT_FALSE(decodeMessage<KeyMessage>(body(R"({"text":"hi"})")));
  const auto key = decodeMessage<KeyMessage>(body(R"({"text":"hi","modifiers":[]})"));
  ASSERT_TRUE(key);
  EXPECT_EQ(key->text, "hi");
  EXPECT_TRUE(key->modifiers.empty());
  EXPECT_FALSE(key->key);
}

TEST(DecodeTest, MalformedBodiesFailWithoutThrowing) {
  for (std::string_view text : {"", "{", "[]", "\"hello\"", "null", "{\"enabled\":true,}", "{\"enabled\":tru}",
                                "{\"enabled\":true} trailing"}) {
    EXPECT_FALSE(decodeMessage<HeadlessMessage>(body(text))) << text;
  }
  EXPECT_TRUE(decodeMessage<HeadlessMessage>(body(" {\"enabled\":false}\n")));

  const Bytes badUtf8 = {'{', '"', 't', 'e', 'x', 't', '"', ':', '"', 0xC3, 0x28, '"', ',', '"', 'm', 'o', 'd',
                         'i',  'f', 'i', 'e', 'r', 's', '"', ':', '[', ']', '}'};
  EXPECT_NO_THROW(EXPECT_FALSE(decodeMessage<KeyMessage>(badUtf8)));
  const Bytes deep(100000, '[');
  EXPECT_NO_THROW(EXPECT_FALSE(decodeMessage<KeyMessage>(deep)));
}

TEST(WelcomeEncodeTest, AbsentOptionalsAreLeftOutNotNull) {
  WelcomeMessage welcome;
  welcome.hostName = "desk";
  welcome.displays = {{1, "Built-in", 2880, 1800}, {4294967295u, "外部", 1920, 1080}};
  welcome.current = 1;
  welcome.directID = "0123456789abcdef0123456789abcdef";
  const auto json = encodedJson(welcome);
  EXPECT_FALSE(json.contains("relayRoom"));
  EXPECT_FALSE(json.contains("headless"));
  EXPECT_FALSE(json.contains("fit"));
  EXPECT_EQ(json["directID"], welcome.directID);
  EXPECT_EQ(json["displays"][1]["id"], 4294967295u);

  EXPECT_EQ(decodeMessage<WelcomeMessage>(*encodeMessage(welcome)), welcome);
}

TEST(FrameHeaderEncodeTest, PartialOnlyWhenSetAndRoundTrip) {
  FrameHeader header;
  header.seq = std::numeric_limits<uint64_t>::max();
  header.displayID = 2;
  header.screenW = 2880;
  header.screenH = 1800;
  header.pointScale = 2;
  header.baseLen = 1234;
  EXPECT_FALSE(encodedJson(header).contains("partial"));
  EXPECT_FALSE(encodedJson(header).contains("detailRect"));

  header.partial = true;
  header.detailRect = std::array<double, 4>{0.1, 0.2, 0.3, 0.4};
  header.basePatches = std::vector<PatchInfo>{{0, 64, 128, 64, 900}};
  EXPECT_EQ(encodedJson(header)["partial"], true);
  EXPECT_EQ(decodeMessage<FrameHeader>(*encodeMessage(header)), header);

  EXPECT_FALSE(decodeMessage<FrameHeader>(body(
      R"({"seq":1,"displayID":1,"screenW":1,"screenH":1,"pointScale":1,"baseLen":0,"detailLen":0,"detailRect":[0,0,1]})")));
  EXPECT_FALSE(decodeMessage<FrameHeader>(body(
      R"({"seq":-1,"displayID":1,"screenW":1,"screenH":1,"pointScale":1,"baseLen":0,"detailLen":0})")));
}

TEST(EncodeTest, NonFiniteNumbersFail) {
  FrameHeader header;
  header.pointScale = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(encodeMessage(header));
  header.pointScale = 1;
  header.detailRect = std::array<double, 4>{0, 0, std::nan(""), 1};
  EXPECT_FALSE(encodeMessage(header));

  RequestMessage request;
  request.viewport = std::vector<double>{0, -std::numeric_limits<double>::infinity()};
  EXPECT_FALSE(encodeMessage(request));
}

TEST(EncodeTest, InvalidUtf8IsReplacedNotThrown) {
  ErrorMessage error{"notice", std::string("bad \xC3\x28 text")};
  std::optional<Bytes> bytes;
  EXPECT_NO_THROW(bytes = encodeMessage(error));
  ASSERT_TRUE(bytes);
  const auto decoded = decodeMessage<ErrorMessage>(*bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->message, "bad \xEF\xBF\xBD( text");
}

}  // namespace
}  // namespace vistaro
