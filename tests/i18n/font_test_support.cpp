#include "font_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fonttest {

namespace fs = std::filesystem;

namespace {

fs::path toPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

}  // namespace

std::string allScriptsFolder() { return std::string(BRINDLE_TEST_FONTS_DIR) + "/all/"; }
std::string noChineseFolder() { return std::string(BRINDLE_TEST_FONTS_DIR) + "/no-chinese/"; }

std::string freshFolder() {
  static int counter = 0;
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string folder = std::string(BRINDLE_TEST_FONTS_DIR) + "/scratch/" + info->name() + "-" + std::to_string(++counter) + "/";
  std::error_code ec;
  fs::remove_all(toPath(folder), ec);
  fs::create_directories(toPath(folder));
  return folder;
}

std::string smallFontBytes() {
  std::ifstream in(toPath(std::string(BRINDLE_TEST_FONTS_DIR) + "/small-font.ttf"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_GT(bytes.size(), 1000u) << "font fixture missing: install fonts-noto-core and reconfigure";
  return bytes;
}

void writeFile(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::ofstream out(toPath(folder + name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << folder + name;
}

void placeFonts(const std::string& folder, const std::vector<std::string>& names) {
  static const std::string bytes = smallFontBytes();
  for (const std::string& name : names) writeFile(folder, name, bytes);
}

bool sameFileName(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
#else
  return a == b;
#endif
}

}  // namespace fonttest
