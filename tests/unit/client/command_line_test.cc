#include "client/command_line.h"

#include <gtest/gtest.h>

namespace vistaro::client {
namespace {

std::optional<ClientOptions> parse(std::vector<std::string> arguments, std::string* error = nullptr) {
  std::string ignored;
  return parseCommandLine(arguments, error ? *error : ignored);
}

TEST(CommandLineTest, FlagsInBothFormsWithDefaults) {
  const auto options = parse({"--pin", "012345", "--host=::1", "--features", "patch,,later", "--name", "Tab"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->pin, "012345");
  EXPECT_EQ(options->host, "::1");
  EXPECT_EQ(options->port, 52525);
  EXPECT_EQ(options->name, "Tab");
  EXPECT_EQ(options->features, (std::vector<std::string>{"patch", "later"}));
}

TEST(CommandLineTest, RejectsWhatItCannotUse) {
  std::string error;
  EXPECT_FALSE(parse({"--host", "h"}, &error));
  EXPECT_EQ(error, "--pin is required");
  EXPECT_FALSE(parse({"--pin", "1", "--port", "65536"}, &error));
  EXPECT_FALSE(parse({"--pin", "1", "--port", "0"}, &error));
  EXPECT_FALSE(parse({"--pin", "1", "--port", "80x"}, &error));
  EXPECT_FALSE(parse({"--pin", "1", "--verbose"}, &error));
  EXPECT_FALSE(parse({"--pin"}, &error));
  EXPECT_EQ(parse({"--pin", "1", "--port=7"})->port, 7);
}

}  // namespace
}  // namespace vistaro::client
