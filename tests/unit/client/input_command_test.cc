#include "client/input_command.h"

#include <gtest/gtest.h>

namespace vistaro::client {
namespace {

std::optional<InputCommand> parse(std::vector<std::string> arguments, std::string* error = nullptr) {
  std::string ignored;
  return parseInputCommand(arguments, error ? *error : ignored);
}

TEST(InputCommandTest, FindsTheCommandAfterTheFlagsEvenWhenAFlagValueLooksLikeOne) {
  EXPECT_EQ(findInputCommand({"--pin", "1", "click", "0", "0"}), 2u);
  EXPECT_EQ(findInputCommand({"--name", "type", "--pin=1", "key", "a"}), 3u);
  EXPECT_EQ(findInputCommand({"--pin", "1"}), 2u);
}

TEST(InputCommandTest, PointerCommandsWithTheirOptions) {
  auto click = parse({"click", "1", "0.25", "--right", "--count", "2", "--display", "7"});
  ASSERT_TRUE(click && click->pointer);
  EXPECT_EQ(click->pointer->kind, InputMessage::Kind::rightClick);
  EXPECT_EQ(click->pointer->x, 1);
  EXPECT_EQ(click->pointer->y, 0.25);
  EXPECT_EQ(click->pointer->clickCount, 2);
  EXPECT_EQ(click->pointer->displayID, 7u);
  EXPECT_TRUE(click->displayGiven);

  auto scroll = parse({"scroll", "-120", "--dx", "40"});
  ASSERT_TRUE(scroll && scroll->pointer);
  EXPECT_EQ(scroll->pointer->kind, InputMessage::Kind::scroll);
  EXPECT_EQ(scroll->pointer->scrollY, -120);
  EXPECT_EQ(scroll->pointer->scrollX, 40);
  EXPECT_EQ(scroll->pointer->scrollBegan, true);
  EXPECT_EQ(scroll->pointer->x, 0.5);
  EXPECT_FALSE(scroll->displayGiven);
}

TEST(InputCommandTest, KeyCommands) {
  auto text = parse({"type", "héllo world", "--backspaces", "3"});
  ASSERT_TRUE(text && text->key);
  EXPECT_EQ(text->key->text, "héllo world");
  EXPECT_EQ(text->key->backspaces, 3);
  auto key = parse({"key", "left", "--mod", "ctrl", "--mod", "shift"});
  ASSERT_TRUE(key && key->key);
  EXPECT_EQ(key->key->key, "left");
  EXPECT_EQ(key->key->modifiers, (std::vector<std::string>{"ctrl", "shift"}));
  EXPECT_FALSE(key->key->text);
}

TEST(InputCommandTest, RejectsWhatItCannotSend) {
  std::string error;
  EXPECT_FALSE(parse({"click", "0.5"}, &error));
  EXPECT_EQ(error, "missing y");
  EXPECT_FALSE(parse({"click", "x", "0"}, &error));
  EXPECT_FALSE(parse({"click", "nan", "0"}, &error));
  EXPECT_FALSE(parse({"scroll", "1.5"}, &error));
  EXPECT_FALSE(parse({"scroll", "10", "--right"}, &error));
  EXPECT_EQ(error, "unexpected --right");
  EXPECT_FALSE(parse({"type"}, &error));
  EXPECT_FALSE(parse({"key", "a", "--mod"}, &error));
  EXPECT_FALSE(parse({"type", "a", "--backspaces", "-"}, &error));
  EXPECT_FALSE(parse({"drag"}, &error));
}

}  // namespace
}  // namespace vistaro::client
