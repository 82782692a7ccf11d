// Every Japanese text of the host is a msgid, so each one needs its English entry.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace vistaro {
namespace {

std::string readAll(const std::filesystem::path& file) {
  std::stringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

// A quoted C or po string; escapes other than \" and \\ do not occur in these texts.
const std::regex kQuoted(R"re("((?:[^"\\\n]|\\.)*)")re");
std::string unquoted(std::string text) {
  return std::regex_replace(text, std::regex(R"(\\(["\\]))"), "$1");
}

TEST(EnglishCatalogue, HasAnEntryForEveryJapaneseTextOfTheHost) {
  std::map<std::string, std::string> english;
  const std::string po = readAll(VISTARO_SOURCE_DIR "/resources/po/en.po");
  static const std::regex entry("\nmsgid " + std::string(R"re("((?:[^"\\\n]|\\.)*)")re") + "\nmsgstr " +
                                R"re("((?:[^"\\\n]|\\.)*)")re");
  for (auto it = std::sregex_iterator(po.begin(), po.end(), entry); it != std::sregex_iterator(); ++it) {
    english[unquoted((*it)[1])] = unquoted((*it)[2]);
  }
  // Kana, kanji and full-width forms: U+3040…U+30FF, U+4E00…U+9FFF, U+FF00…U+FFEF.
  static const std::regex japanese("\xE3[\x81-\x83]|[\xE4-\xE9][\x80-\xBF]|\xEF[\xBC-\xBF]");
  size_t texts = 0;
  for (const auto& file : std::filesystem::recursive_directory_iterator(VISTARO_SOURCE_DIR "/src")) {
    if (file.path().extension() != ".cc" && file.path().extension() != ".h") continue;
    const std::string source = readAll(file.path());
    for (auto it = std::sregex_iterator(source.begin(), source.end(), kQuoted); it != std::sregex_iterator(); ++it) {
      const std::string text = unquoted((*it)[1]);
      if (!std::regex_search(text, japanese)) continue;
      ++texts;
      EXPECT_FALSE(english[text].empty()) << file.path().filename() << ": no English for \"" << text << "\"";
    }
  }
  EXPECT_GT(texts, 40u) << "the sources' texts were not found";
}

}  // namespace
}  // namespace vistaro
