#include <gtest/gtest.h>

#include <set>

#include "reach/random_hex_id.h"

namespace vistaro {
namespace {

TEST(RandomHexID, IsThirtyTwoLowercaseHexDigitsAndNewEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) {
    const std::string id = randomHexID();
    EXPECT_TRUE(isHexID(id)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 8u);
  for (const char* stored : {"0123456789ABCDEF0123456789abcdef", "0123456789abcdef0123456789abcde", ""}) {
    EXPECT_FALSE(isHexID(stored)) << stored;
  }
}

}  // namespace
}  // namespace vistaro
