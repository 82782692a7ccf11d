#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "reach/webdav_record_store.h"
#include "support/temp_dir.h"

namespace vistaro {
namespace {

// The account is refused before anything goes out: no server is needed, and none is asked.
TEST(WebDavRecordStore, AnAccountFileOthersMayReadOrWithoutPasswordIsRefused) {
  testing::TempDir directory;
  const auto file = directory.path() / "account";
  const struct {
    const char* contents;
    mode_t mode;
    const char* problem;
  } cases[] = {{"me:secret\n", 0644, "chmod 600"}, {"me-and-no-password\n", 0600, "USER:PASSWORD"}};
  for (const auto& c : cases) {
    std::ofstream(file) << c.contents;
    chmod(file.c_str(), c.mode);
    WebDavRecordStore store("http://192.0.2.1:9/records", file);
    const auto problem = store.checkAccount();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->kind, RecordProblem::Kind::accountUnavailable);
    EXPECT_NE(problem->description.find(c.problem), std::string::npos) << problem->description;
    EXPECT_EQ(problem->description.find("secret"), std::string::npos);
  }
}

}  // namespace
}  // namespace vistaro
