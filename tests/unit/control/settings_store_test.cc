#include "control/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/temp_dir.h"

namespace vistaro {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SettingsStore, ValuesSurviveARestartAndADisplayIDMustFitIn32Bits) {
  testing::TempDir dir;
  const fs::path file = dir / "settings.json";
  const std::map<uint32_t, float> levels{{1, 0.75f}, {42, 0.5f}};
  const auto frames = nlohmann::json::array({{{"pid", 7}, {"x", 10}}});
  SettingsStore store(file);
  EXPECT_FALSE(store.loadProblem() || store.pin());
  EXPECT_FALSE(store.setPin("012345") || store.setDisplayID(4294967295u) || store.setHeadlessSavedBrightness(levels) ||
               store.setWindowFramesBeforeFit(frames));
  SettingsStore reloaded(file);
  EXPECT_EQ(std::tuple(reloaded.pin(), reloaded.displayID(), reloaded.headlessSavedBrightness(),
                       reloaded.windowFramesBeforeFit()), std::tuple("012345", 4294967295u, levels, frames));
  EXPECT_FALSE(reloaded.setHeadlessSavedBrightness(std::nullopt) || reloaded.setWindowFramesBeforeFit(std::nullopt));
  const SettingsStore cleared(file);
  EXPECT_EQ(std::tuple(cleared.headlessSavedBrightness(), cleared.windowFramesBeforeFit(), cleared.pin()),
            std::tuple(std::nullopt, std::nullopt, "012345"));
  for (const char* unusable : {"4294967296", "-1", "1.5", "\"7\""}) {
    std::ofstream(file) << "{\"displayID\": " << unusable << "}";
    EXPECT_FALSE(SettingsStore(file).displayID()) << unusable;
  }
}

// Each is kept aside as it was, the host starts on defaults for what it could not use, and its
// next write leaves the copy alone. 100,000 levels would take a recursive reader (or writer) down.
TEST(SettingsStore, HostileOrDamagedFilesAreKeptAside) {
  std::string deepObjects;
  for (int i = 0; i < 100'000; ++i) deepObjects += R"({"a":)";
  deepObjects.append("0").append(100'000, '}');
  for (const auto& [text, typesOnly] : std::vector<std::pair<std::string, bool>>{
           {"{\"pin\": \"1234", false},
           {"{\"pin\": \"1\", \"x\": " + std::string(100'000, '[') + std::string(100'000, ']') + "}", false},
           {"{\"pin\": \"1\", \"x\": " + deepObjects + "}", false},
           {"{\"pin\": \"1\", \"x\": \"" + std::string(2 << 20, 'a') + "\"}", false},
           {R"({"displayID": 3, "pin": 123456})", true},  // readable, with a known key of the wrong type
           {R"({"displayID": 3, "pin": null})", true},
           {R"({"displayID": 3, "pin": [1, 2]})", true}}) {
    SCOPED_TRACE(text.substr(0, 40));
    testing::TempDir dir;
    const fs::path file = dir / "settings.json";
    std::ofstream(file) << text;
    SettingsStore store(file);
    ASSERT_TRUE(store.loadProblem());
    EXPECT_EQ(typesOnly, store.loadProblem()->find("\"pin\" had the wrong type") != std::string::npos);
    EXPECT_EQ(std::tuple(store.pin(), store.displayID()),
              std::tuple(std::nullopt, typesOnly ? std::optional<uint32_t>(3) : std::nullopt));
    ASSERT_FALSE(store.setPin("654321"));
    EXPECT_EQ(std::tuple(SettingsStore(file).pin(), SettingsStore(file).loadProblem()), std::tuple("654321", std::nullopt));
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      if (entry.path() != file) aside.push_back(entry.path());
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(aside[0].filename().string().starts_with("settings.json.corrupt-")) << aside[0];
    EXPECT_EQ(contents(aside[0]), text);
  }
}

TEST(SettingsStore, WritesReplaceTheWholeFileKeepTheUsersOwnKeysCompactAndNeverLoseTheValue) {
  testing::TempDir dir;
  const fs::path file = dir / "settings.json";
  // 30 levels: within the limit, and a pretty printer would indent the deepest 30 times over.
  std::string theirs = "3";
  for (int i = 0; i < 15; ++i) theirs = R"({"a":[1,2,)" + theirs + "]}";
  std::ofstream(file) << R"({"pin": "111111", "theirs": )" << theirs << "}";
  std::ofstream(file.string() + ".tmp-99999") << "{\"pin\": \"99";  // a crash between writing and renaming
  for (int restart = 0; restart < 3; ++restart) {
    SettingsStore store(file);
    EXPECT_EQ(std::tuple(store.loadProblem(), store.pin()), std::tuple(std::nullopt, restart ? "222222" : "111111"));
    struct stat original {}, replaced {};
    ::stat(file.c_str(), &original);
    ASSERT_FALSE(store.setPin("222222"));
    ::stat(file.c_str(), &replaced);
    EXPECT_NE(original.st_ino, replaced.st_ino) << "written in place, not replaced";
  }
  EXPECT_NE(contents(file).find(theirs), std::string::npos);
  EXPECT_LT(contents(file).size(), theirs.size() + 64);
  SettingsStore blocked(file / "settings.json");  // a parent that is a file fails even for root, which CI runs as
  EXPECT_TRUE(blocked.setPin("333333").has_value() && blocked.pin() == "333333");
}

}  // namespace
}  // namespace vistaro
