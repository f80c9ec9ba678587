#include "i18n/font_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "font_test_support.h"
#include "i18n/font_file_check.h"
#include "imgui.h"
#include "support/log_capture.h"

namespace {

using fonttest::freshFolder;
using fonttest::placeFonts;

struct Script {
  const char* label;
  std::vector<std::string> candidates;
};

const std::vector<std::string> kBase = {"segoeui.ttf", "YuGothM.ttc", "arial.ttf"};
const std::vector<Script> kScripts = {
    {"Japanese", {"YuGothM.ttc", "YuGothR.ttc", "meiryo.ttc", "msgothic.ttc"}},
    {"Chinese", {"msyh.ttc", "msyhl.ttc", "msjh.ttc", "msjhl.ttc", "simsun.ttc", "mingliu.ttc"}},
    {"Korean", {"malgun.ttf", "malgunbd.ttf", "gulim.ttc", "batang.ttc"}},
    {"Thai", {"leelawui.ttf", "leelauib.ttf", "leelaws.ttf", "tahoma.ttf"}},
    {"Devanagari",
     {"Nirmala.ttf", "nirmala.ttf", "NirmalaB.ttf", "nirmalab.ttf", "NirmalaS.ttf", "nirmalas.ttf", "mangal.ttf",
      "Mangal.ttf", "mangalb.ttf"}},
};

std::string line(const std::string& label, const std::string& folder, const std::string& name) {
  return name.empty() ? "[font] " + label + " MISSING\n" : "[font] " + label + " -> " + folder + name + "\n";
}

// The first candidate that the file system finds among `present`, or "" for none.
std::string firstPresent(const std::vector<std::string>& candidates, const std::vector<std::string>& present) {
  for (const std::string& c : candidates)
    for (const std::string& p : present)
      if (fonttest::sameFileName(c, p)) return c;
  return "";
}

// Fills a fresh folder with a small font under `present`, loads, and returns the "[font]" lines.
std::vector<std::string> loadFrom(ImFontAtlas& atlas, const std::vector<std::string>& present, std::string* folderOut = nullptr) {
  std::string folder = freshFolder();
  placeFonts(folder, present);
  testsupport::LogCapture capture;
  i18n::loadFonts(&atlas, folder.c_str());
  if (folderOut) *folderOut = folder;
  return capture.linesStartingWith("[font]");
}

std::string configName(const ImFontAtlas& atlas, int i) { return atlas.ConfigData[i].Name; }

TEST(LoadFonts, FirstCandidatesWinAndScriptsMergeIntoTheBaseFont) {
  std::vector<std::string> present = kBase;
  for (const Script& s : kScripts) present.insert(present.end(), s.candidates.begin(), s.candidates.end());
  ImFontAtlas atlas;
  std::string folder;
  std::vector<std::string> lines = loadFrom(atlas, present, &folder);

  EXPECT_EQ(lines, (std::vector<std::string>{line("Japanese", folder, "YuGothM.ttc"), line("Chinese", folder, "msyh.ttc"),
                                              line("Korean", folder, "malgun.ttf"), line("Thai", folder, "leelawui.ttf"),
                                              line("Devanagari", folder, "Nirmala.ttf")}));
  ASSERT_EQ(atlas.Fonts.Size, 1);
  ASSERT_EQ(atlas.ConfigData.Size, 6);
  EXPECT_EQ(configName(atlas, 0), "segoeui.ttf, 16px");
  for (int i = 0; i < atlas.ConfigData.Size; ++i) {
    const ImFontConfig& c = atlas.ConfigData[i];
    EXPECT_EQ(c.SizePixels, 16.0f);
    EXPECT_EQ(c.MergeMode, i > 0) << i;
    EXPECT_EQ(c.OversampleH, i == 0 ? 2 : 1) << i;
    EXPECT_EQ(c.OversampleV, i == 0 ? 2 : 1) << i;
    EXPECT_EQ(c.FontNo, 0) << i;  // first face of a collection
    EXPECT_NE(c.GlyphRanges, nullptr) << i;
  }
  EXPECT_EQ(atlas.ConfigData[1].GlyphRanges, atlas.GetGlyphRangesJapanese());
  EXPECT_EQ(atlas.ConfigData[3].GlyphRanges, atlas.GetGlyphRangesKorean());
  EXPECT_EQ(atlas.ConfigData[4].GlyphRanges, atlas.GetGlyphRangesThai());
}

// For every list, with only the k-th candidate onwards present, the k-th one is taken (or the
// one the file system matches first, where names differ only in case on Windows).
TEST(LoadFonts, CandidatesAreTriedInOrder) {
  for (std::size_t k = 0; k < kBase.size(); ++k) {
    std::vector<std::string> present(kBase.begin() + k, kBase.end());
    ImFontAtlas atlas;
    loadFrom(atlas, present);
    ASSERT_GE(atlas.ConfigData.Size, 1);
    EXPECT_EQ(configName(atlas, 0), kBase[k] + ", 16px");
  }
  for (std::size_t s = 0; s < kScripts.size(); ++s) {
    const std::vector<std::string>& candidates = kScripts[s].candidates;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      std::vector<std::string> present(candidates.begin() + k, candidates.end());
      present.push_back("segoeui.ttf");
      ImFontAtlas atlas;
      std::string folder;
      std::vector<std::string> lines = loadFrom(atlas, present, &folder);
      std::vector<std::string> expected;
      for (std::size_t t = 0; t < kScripts.size(); ++t)
        expected.push_back(line(kScripts[t].label, folder, t == s ? firstPresent(candidates, present) : ""));
      EXPECT_EQ(lines, expected) << kScripts[s].label << " from candidate " << k;
      EXPECT_EQ(atlas.ConfigData.Size, 2);
    }
  }
}

TEST(LoadFonts, YuGothicIsBaseAndJapaneseWhenSegoeUiIsMissing) {
  ImFontAtlas atlas;
  std::string folder;
  std::vector<std::string> lines = loadFrom(atlas, {"YuGothM.ttc", "arial.ttf"}, &folder);
  EXPECT_EQ(lines, (std::vector<std::string>{line("Japanese", folder, "YuGothM.ttc"), line("Chinese", folder, ""),
                                              line("Korean", folder, ""), line("Thai", folder, ""),
                                              line("Devanagari", folder, "")}));
  ASSERT_EQ(atlas.ConfigData.Size, 2);
  EXPECT_EQ(configName(atlas, 0), "YuGothM.ttc, 16px");
  EXPECT_FALSE(atlas.ConfigData[0].MergeMode);
  EXPECT_EQ(configName(atlas, 1), "YuGothM.ttc, 16px");
  EXPECT_TRUE(atlas.ConfigData[1].MergeMode);
}

TEST(LoadFonts, WithoutBaseFontOnlyTheBuiltInFontAndNoLines) {
  std::vector<std::string> present;
  for (std::size_t s = 1; s < kScripts.size(); ++s) present.push_back(kScripts[s].candidates[0]);
  present.push_back("meiryo.ttc");
  ImFontAtlas atlas;
  EXPECT_TRUE(loadFrom(atlas, present).empty());
  ASSERT_EQ(atlas.ConfigData.Size, 1);
  EXPECT_EQ(configName(atlas, 0), "ProggyClean.ttf, 13px");
  EXPECT_TRUE(atlas.Build());

  ImFontAtlas empty;  // a folder that does not exist at all
  testsupport::LogCapture capture;
  i18n::loadFonts(&empty, (freshFolder() + "absent/").c_str());
  EXPECT_EQ(capture.count("[font]"), 0u);
  EXPECT_EQ(empty.ConfigData.Size, 1);
}

TEST(LoadFonts, OnlyMangalGivesDevanagari) {
  ImFontAtlas atlas;
  std::string folder;
  std::vector<std::string> lines = loadFrom(atlas, {"segoeui.ttf", "mangal.ttf"}, &folder);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "[font] Devanagari -> " + folder + "mangal.ttf\n");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[i].substr(lines[i].size() - 9), " MISSING\n") << lines[i];
}

TEST(LoadFonts, MissingScriptFontDoesNotStopTheOthers) {
  ImFontAtlas atlas;
  std::string folder;
  std::vector<std::string> lines =
      loadFrom(atlas, {"segoeui.ttf", "meiryo.ttc", "mingliu.ttc", "tahoma.ttf", "mangalb.ttf"}, &folder);
  EXPECT_EQ(lines, (std::vector<std::string>{line("Japanese", folder, "meiryo.ttc"), line("Chinese", folder, "mingliu.ttc"),
                                              line("Korean", folder, ""), line("Thai", folder, "tahoma.ttf"),
                                              line("Devanagari", folder, "mangalb.ttf")}));
  EXPECT_EQ(atlas.ConfigData.Size, 5);
  // A folder given without its final separator works the same.
  ImFontAtlas again;
  testsupport::LogCapture capture;
  i18n::loadFonts(&again, folder.substr(0, folder.size() - 1).c_str());
  EXPECT_EQ(capture.linesStartingWith("[font]"), lines);
}

// Dear ImGui's reader trusts a font's table directory: damaged files must never reach it.
TEST(LoadFonts, DamagedFontFilesArePassedOver) {
  const std::string font = fonttest::smallFontBytes();
  const std::string folder = freshFolder();
  fonttest::writeFile(folder, "segoeui.ttf", "");                              // empty
  fonttest::writeFile(folder, "YuGothM.ttc", "not a font, just some text\n");  // foreign
  fonttest::writeFile(folder, "YuGothR.ttc", std::string("ttcf\0\1\0\0\0\0\0\1\0\0\x10\0", 16));  // face beyond the end
  fonttest::writeFile(folder, "meiryo.ttc", font.substr(0, font.size() / 2));  // truncated
  fonttest::writeFile(folder, "msgothic.ttc", std::string("ttcf\0\1\0\0\0\0\0\0", 12));  // no faces
  fonttest::writeFile(folder, "arial.ttf", font);
  fonttest::writeFile(folder, "msyh.ttc", font);

  testsupport::LogCapture capture;
  ImFontAtlas atlas;
  i18n::loadFonts(&atlas, folder.c_str());
  auto damaged = [&](const char* name) { return "[font] " + folder + name + " is damaged or not a font, skipped\n"; };
  EXPECT_EQ(capture.linesStartingWith("[font]"),
            (std::vector<std::string>{damaged("segoeui.ttf"), damaged("YuGothM.ttc"), damaged("YuGothM.ttc"),
                                      damaged("YuGothR.ttc"), damaged("meiryo.ttc"), damaged("msgothic.ttc"),
                                      line("Japanese", folder, ""), line("Chinese", folder, "msyh.ttc"),
                                      line("Korean", folder, ""), line("Thai", folder, ""), line("Devanagari", folder, "")}));
  ASSERT_EQ(atlas.ConfigData.Size, 2);
  EXPECT_EQ(configName(atlas, 0), "arial.ttf, 16px");
  EXPECT_TRUE(atlas.Build());

  EXPECT_EQ(i18n::checkFontFile((folder + "arial.ttf").c_str()), i18n::FontFileStatus::Usable);
  EXPECT_EQ(i18n::checkFontFile((fonttest::allScriptsFolder() + "YuGothM.ttc").c_str()), i18n::FontFileStatus::Usable);
  EXPECT_EQ(i18n::checkFontFile((folder + "absent.ttf").c_str()), i18n::FontFileStatus::Missing);
  EXPECT_EQ(i18n::checkFontFile(folder.c_str()), i18n::FontFileStatus::Missing);  // a folder
  EXPECT_EQ(i18n::checkFontFile(""), i18n::FontFileStatus::Missing);
  EXPECT_EQ(i18n::checkFontFile(nullptr), i18n::FontFileStatus::Missing);
  // Every truncation of a good font is caught, down to an empty file.
  for (std::size_t size : {std::size_t(0), std::size_t(4), std::size_t(11), std::size_t(12), std::size_t(40),
                           std::size_t(200)}) {
    fonttest::writeFile(folder, "cut.ttf", font.substr(0, size));
    EXPECT_EQ(i18n::checkFontFile((folder + "cut.ttf").c_str()), i18n::FontFileStatus::Damaged) << size;
  }
}

}  // namespace
