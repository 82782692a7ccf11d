#include "control/settings_store.h"
#include "control/stored_window_frames_record.h"

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

// Values surviving a restart are the host process tests'.
TEST(SettingsStore, NoFileIsNoProblemAndADisplayIDMustFitIn32Bits) {
  testing::TempDir dir;
  EXPECT_FALSE(SettingsStore(dir / "settings.json").loadProblem()) << "no file yet is no problem";
  std::pair<const char*, std::optional<uint32_t>> cases[] = {{"4294967295", UINT32_MAX}, {"4294967296", {}}, {"-1", {}}};
  for (const auto& [text, id] : cases) {
    std::ofstream(dir / "settings.json") << "{\"displayID\": " << text << "}";
    EXPECT_EQ(SettingsStore(dir / "settings.json").displayID(), id) << text;
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
           {R"({"displayID": 3, "pin": 123456})", true}}) {  // readable, with a known key of the wrong type
    SCOPED_TRACE(text.substr(0, 40));
    testing::TempDir dir;
    const fs::path file = dir / "settings.json";
    std::ofstream(file) << text;
    SettingsStore store(file);
    ASSERT_TRUE(store.loadProblem() && typesOnly == (store.loadProblem()->find("\"pin\" had the wrong") != std::string::npos));
    EXPECT_EQ(std::tuple(store.pin(), store.displayID()),
              std::tuple(std::nullopt, typesOnly ? std::optional<uint32_t>(3) : std::nullopt));
    ASSERT_FALSE(store.setPin("654321"));
    EXPECT_EQ(std::tuple(SettingsStore(file).pin(), SettingsStore(file).loadProblem()), std::tuple("654321", std::nullopt));
    std::vector<fs::path> aside(fs::directory_iterator(dir.path()), {});
    std::erase(aside, file);
    ASSERT_TRUE(aside.size() == 1 && aside[0].filename().string().starts_with("settings.json.corrupt-"));
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
  const auto inode = [&] { struct stat status {}; return ::stat(file.c_str(), &status), status.st_ino; };
  for (int restart = 0; restart < 3; ++restart) {
    SettingsStore store(file);
    EXPECT_EQ(std::tuple(store.loadProblem(), store.pin()), std::tuple(std::nullopt, restart ? "222222" : "111111"));
    const auto before = inode();
    ASSERT_FALSE(store.setPin("222222"));
    EXPECT_NE(before, inode()) << "written in place, not replaced";
  }
  EXPECT_NE(contents(file).find(theirs), std::string::npos);
  EXPECT_LT(contents(file).size(), theirs.size() + 64);
  SettingsStore blocked(file / "settings.json");  // a parent that is a file fails even for root, which CI runs as
  EXPECT_TRUE(blocked.setPin("333333").has_value() && blocked.pin() == "333333");
}

}  // namespace
}  // namespace vistaro

namespace vistaro {
namespace {

// Frames that cannot all be read match no window (a half-read list could move the wrong ones), yet
// count as there, so that putting back removes them.
TEST(StoredWindowFramesRecord, ReadsWholeListsOnlyAndWritesTheSameForm) {
  testing::TempDir dir;
  SettingsStore settings(dir / "settings.json");
  StoredWindowFramesRecord record(settings);
  EXPECT_FALSE(record.load());
  const std::vector<StoredFrame> frames{{"XTerm", "shell", 1, {10, 20.5, 640, 480}}};
  ASSERT_FALSE(record.store(frames));
  EXPECT_EQ(SettingsStore(dir / "settings.json").windowFramesBeforeFit()->dump(),
            R"([{"bundleID":"XTerm","frame":[[10.0,20.5],[640.0,480.0]],"index":1,"title":"shell"}])");
  EXPECT_EQ(record.load(), frames);
  for (const char* damaged : {R"("x")", R"([{"bundleID": 5, "title": "", "index": 0, "frame": [[0, 0], [1, 1]]}])",
                              R"([{"bundleID": "a", "title": "", "index": 0.5, "frame": [[0, 0], [1, 1]]}])",
                              R"([{"bundleID": "a", "title": "", "index": 0, "frame": [[0, 0], [1]]}])",
                              R"([{"bundleID": "a", "title": "", "index": 0, "frame": [[0, 0], [1, 1]]}, 7])"}) {
    ASSERT_FALSE(settings.setWindowFramesBeforeFit(nlohmann::json::parse(damaged)));
    EXPECT_EQ(record.load(), std::vector<StoredFrame>{}) << damaged;
  }
  ASSERT_FALSE(record.store(std::nullopt));
  EXPECT_FALSE(SettingsStore(dir / "settings.json").windowFramesBeforeFit());
}

}  // namespace
}  // namespace vistaro
