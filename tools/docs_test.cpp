// The documentation against the tree: every relative link reaches its file and heading,
// and every key the configuration reader knows is described under its section's heading.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "config/config.h"

namespace kalmora::testing {
namespace {

namespace fs = std::filesystem;
const fs::path kRoot = KALMORA_SOURCE_DIR;

// Every key of kalmora.ini, as (section, key).
std::vector<std::pair<std::string, std::string>> ReaderKeys() {
  std::vector<std::pair<std::string, std::string>> keys = {{"GeneralOptions", "Version"}};
  for (const SettingKey& k : SettingKeys()) keys.emplace_back(k.section, k.key);
  return keys;
}

// The numbered lines outside fenced code blocks (fences may be indented in lists).
std::vector<std::pair<int, std::string>> ProseLines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::pair<int, std::string>> lines;
  bool fenced = false;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    const size_t start = text.find_first_not_of(' ');
    if (start != std::string::npos && text.compare(start, 3, "```") == 0) {
      fenced = !fenced;
    } else if (!fenced) {
      lines.emplace_back(number, text);
    }
  }
  return lines;
}

// A heading's text, or "" for any other line.
std::string HeadingOf(const std::string& line) {
  static const std::regex heading("^#{1,6} +(.*?) *$");
  std::smatch m;
  return std::regex_match(line, m, heading) ? m[1].str() : "";
}

// GitHub's anchors of a file's headings: lower case; letters, digits, hyphens
// and underscores kept; blanks as hyphens; everything else dropped.
std::set<std::string> Anchors(const fs::path& file) {
  std::set<std::string> anchors;
  for (const auto& [number, text] : ProseLines(file)) {
    std::string anchor;
    for (unsigned char c : HeadingOf(text)) {
      if (std::isalnum(c) || c == '-' || c == '_' || c >= 0x80) anchor += static_cast<char>(std::tolower(c));
      if (c == ' ') anchor += '-';
    }
    if (!anchor.empty()) anchors.insert(anchor);
  }
  return anchors;
}

TEST(Docs, RelativeLinksReachTheirFileAndHeading) {
  static const std::regex link(R"(\[[^\]]*\]\(([^)\s]+)\))"), code("`[^`]*`"), web("^(https?|mailto):");
  std::vector<fs::path> files = {kRoot / "README.md"};
  for (const auto& entry : fs::directory_iterator(kRoot / "docs")) files.push_back(entry.path());
  int checked = 0;
  for (const fs::path& file : files) {
    if (file.extension() != ".md") continue;
    for (const auto& [number, text] : ProseLines(file)) {
      const std::string prose = std::regex_replace(text, code, "");
      for (std::sregex_iterator m(prose.begin(), prose.end(), link), end; m != end; ++m) {
        const std::string target = (*m)[1].str();
        if (std::regex_search(target, web)) continue;
        const size_t hash = target.find('#');
        const fs::path to = hash == 0 ? file : file.parent_path() / target.substr(0, hash);
        ++checked;
        EXPECT_TRUE(fs::exists(to) && (hash == std::string::npos || Anchors(to).count(target.substr(hash + 1))))
            << file.filename().string() << ":" << number << ": " << target << ": no such file or heading";
      }
    }
  }
  EXPECT_GT(checked, 20) << "too few links found in " << files.size() << " files";
}

// The text under the configuration reference's heading that names [section], if there is one.
std::optional<std::string> TextUnder(const std::string& section) {
  std::optional<std::string> text;
  for (const auto& [number, line] : ProseLines(kRoot / "docs" / "configuration.md")) {
    const std::string heading = HeadingOf(line);
    if (heading.empty()) {
      if (text) *text += line + "\n";
    } else if (text) {
      return text;
    } else if (heading.find("[" + section + "]") != std::string::npos) {
      text = "";
    }
  }
  return text;
}

TEST(Docs, ConfigurationDescribesEveryKeyUnderItsSection) {
  for (const char* section : {"ShutdownHolidays", "MsgHolidays"})
    EXPECT_TRUE(TextUnder(section).has_value()) << section;
  for (const auto& [section, key] : ReaderKeys()) {
    const std::optional<std::string> text = TextUnder(section);
    ASSERT_TRUE(text.has_value()) << "no heading [" << section << "]";
    EXPECT_NE(text->find("`" + key + "`"), std::string::npos) << "`" << key << "` is not under [" << section << "]";
  }
}

}  // namespace
}  // namespace kalmora::testing
