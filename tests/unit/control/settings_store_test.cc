#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "control/settings_store.h"

namespace vistaro {
namespace {

namespace fs = std::filesystem;

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vistaro-settings-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    file_ = dir_ / "vistaro-host" / "settings.json";
  }
  void TearDown() override {
    fs::remove_all(dir_);
  }
  void writeRaw(const std::string& text) {
    fs::create_directories(file_.parent_path());
    std::ofstream(file_) << text;
  }
  std::string readRaw() const {
    std::ifstream in(file_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<fs::path> filesBeside() const {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(file_.parent_path())) names.push_back(entry.path().filename());
    return names;
  }

  fs::path dir_;
  fs::path file_;
};

TEST_F(SettingsStoreTest, EveryKeySurvivesARestart) {
  {
    SettingsStore store(file_);
    EXPECT_FALSE(store.loadProblem());
    EXPECT_FALSE(store.pin());
    EXPECT_FALSE(store.setPin("012345"));
    EXPECT_FALSE(store.setDisplayID(4294967295u));
    EXPECT_FALSE(store.setRelayRoom("0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(store.setDirectID("fedcba9876543210fedcba9876543210"));
    EXPECT_FALSE(store.setHeadlessSavedBrightness(std::map<uint32_t, float>{{1, 0.75f}, {42, 0.5f}}));
    EXPECT_FALSE(store.setWindowFramesBeforeFit(nlohmann::json::array({{{"pid", 7}, {"x", 10}}})));
  }
  SettingsStore reloaded(file_);
  EXPECT_EQ(reloaded.pin(), "012345");
  EXPECT_EQ(reloaded.displayID(), 4294967295u);
  EXPECT_EQ(reloaded.relayRoom(), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(reloaded.directID(), "fedcba9876543210fedcba9876543210");
  EXPECT_EQ(reloaded.headlessSavedBrightness(), (std::map<uint32_t, float>{{1, 0.75f}, {42, 0.5f}}));
  EXPECT_EQ((*reloaded.windowFramesBeforeFit())[0]["x"], 10);

  EXPECT_FALSE(reloaded.setHeadlessSavedBrightness(std::nullopt));
  EXPECT_FALSE(reloaded.setWindowFramesBeforeFit(std::nullopt));
  SettingsStore cleared(file_);
  EXPECT_FALSE(cleared.headlessSavedBrightness());
  EXPECT_FALSE(cleared.windowFramesBeforeFit());
  EXPECT_EQ(cleared.pin(), "012345");
}

TEST_F(SettingsStoreTest, DisplayIDsThatCannotNameADisplayAreAbsent) {
  for (const char* stored : {"4294967296", "-1", "1.5", "\"7\""}) {
    writeRaw(std::string("{\"displayID\": ") + stored + "}");
    EXPECT_FALSE(SettingsStore(file_).displayID()) << stored;
  }
}

TEST_F(SettingsStoreTest, KnownKeyOfTheWrongTypeIsReportedAndKeptInACopy) {
  for (const char* pin : {"123456", "null", "[1, 2]"}) {
    SCOPED_TRACE(pin);
    fs::remove_all(dir_);
    writeRaw(std::string("{\"displayID\": 0, \"pin\": ") + pin + "}");
    SettingsStore store(file_);
    EXPECT_EQ(store.displayID(), 0u);
    EXPECT_FALSE(store.pin());
    ASSERT_TRUE(store.loadProblem());
    EXPECT_NE(store.loadProblem()->find("\"pin\""), std::string::npos);
    const auto names = filesBeside();
    ASSERT_EQ(names.size(), 2u);
    const fs::path copy = file_.parent_path() / (names[0] == "settings.json" ? names[1] : names[0]);
    std::ifstream in(copy);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(in), {}).find(pin), std::string::npos);
    // The new PIN replaces the bad one; the copy stays.
    ASSERT_FALSE(store.setPin("654321"));
    EXPECT_EQ(SettingsStore(file_).pin(), "654321");
    EXPECT_FALSE(SettingsStore(file_).loadProblem());
  }
}

TEST_F(SettingsStoreTest, CorruptFileIsKeptAsideAndReportedOnce) {
  writeRaw("{\"pin\": \"1234");
  SettingsStore store(file_);
  ASSERT_TRUE(store.loadProblem());
  EXPECT_FALSE(store.pin());
  auto names = filesBeside();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].string().rfind("settings.json.corrupt-", 0), 0u);

  EXPECT_FALSE(store.setPin("654321"));
  EXPECT_EQ(SettingsStore(file_).pin(), "654321");
  EXPECT_FALSE(SettingsStore(file_).loadProblem());
  EXPECT_EQ(filesBeside().size(), 2u);  // the corrupt copy is still there
}

// A parent that is a file fails even for root, which CI runs as.
TEST_F(SettingsStoreTest, UnwritablePathReportsButKeepsTheValue) {
  writeRaw("{}");
  const fs::path blocked = dir_ / "file-not-dir";
  std::ofstream(blocked) << "x";
  SettingsStore store(blocked / "vistaro-host" / "settings.json");
  EXPECT_TRUE(store.setPin("222222"));
  EXPECT_EQ(store.pin(), "222222");
}

TEST_F(SettingsStoreTest, InterruptedWriteLeavesTheOldFileWhole) {
  {
    SettingsStore store(file_);
    ASSERT_FALSE(store.setPin("111111"));
  }
  const std::string before = readRaw();
  // A crash between writing the temp file and renaming it leaves this behind.
  std::ofstream(file_.string() + ".tmp-99999") << "{\"pin\": \"99";
  SettingsStore store(file_);
  EXPECT_FALSE(store.loadProblem());
  EXPECT_EQ(store.pin(), "111111");
  EXPECT_EQ(readRaw(), before);

  struct stat original {};
  ::stat(file_.c_str(), &original);
  ASSERT_FALSE(store.setPin("222222"));
  struct stat replaced {};
  ::stat(file_.c_str(), &replaced);
  EXPECT_NE(original.st_ino, replaced.st_ino) << "written in place, not replaced";
}

TEST_F(SettingsStoreTest, FilesTooDeepOrTooLargeAreKeptAsideLikeCorruptOnes) {
  // 100,000 levels would take a recursive reader (or writer) down.
  const std::string deep = "{\"pin\": \"1\", \"x\": " + std::string(100'000, '[') + std::string(100'000, ']') + "}";
  const std::string large = "{\"pin\": \"1\", \"x\": \"" + std::string(2 << 20, 'a') + "\"}";
  for (const std::string* text : {&deep, &large}) {
    fs::remove_all(dir_);
    writeRaw(*text);
    SettingsStore store(file_);
    EXPECT_TRUE(store.loadProblem());
    EXPECT_FALSE(store.pin());
    ASSERT_EQ(filesBeside().size(), 1u);
    EXPECT_EQ(filesBeside()[0].string().rfind("settings.json.corrupt-", 0), 0u);
  }
}

TEST_F(SettingsStoreTest, UnknownKeysOfTheUserArePreservedWithoutGrowing) {
  // 30 levels of nesting: within the limit, and a pretty printer would indent the deepest 30 times over.
  std::string theirs;
  for (int i = 0; i < 15; ++i) theirs += R"({"a":[1,2,)";
  theirs += "3";
  for (int i = 0; i < 15; ++i) theirs += "]}";
  writeRaw(R"({"theirs":)" + theirs + "}");
  for (int restart = 0; restart < 3; ++restart) {
    SettingsStore store(file_);
    ASSERT_FALSE(store.loadProblem());
    ASSERT_FALSE(store.setPin("123456"));
  }
  const std::string written = readRaw();
  EXPECT_NE(written.find(theirs), std::string::npos);
  EXPECT_LT(written.size(), theirs.size() + 64);
}

}  // namespace
}  // namespace vistaro
