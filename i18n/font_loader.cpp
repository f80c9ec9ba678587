#include "i18n/font_loader.h"

#include <string>

#include "common/debug_log.h"
#include "i18n/font_file_check.h"
#include "imgui.h"

namespace i18n {

namespace {

constexpr float kFontSize = 16.0f;

// Latin, IPA, Greek, Cyrillic, Hebrew, Arabic, punctuation, symbols and the Hebrew and Arabic
// presentation forms that right-to-left preparation produces.
const ImWchar kBaseRanges[] = {
    0x0020, 0x00FF, 0x0100, 0x017F, 0x0180, 0x024F, 0x0250, 0x02AF, 0x02B0, 0x02FF, 0x0300, 0x036F,
    0x0370, 0x03FF, 0x0400, 0x04FF, 0x0500, 0x052F, 0x0590, 0x05FF, 0x0600, 0x06FF, 0x0750, 0x077F,
    0x1E00, 0x1EFF, 0x2000, 0x206F, 0x2070, 0x209F, 0x20A0, 0x20CF, 0x2100, 0x214F, 0x2150, 0x218F,
    0x2190, 0x21FF, 0x2200, 0x22FF, 0x2500, 0x257F, 0x25A0, 0x25FF, 0x2600, 0x26FF, 0xFB1D, 0xFB4F,
    0xFB50, 0xFDFF, 0xFE70, 0xFEFF, 0,
};

// The whole unified ideograph block, plus punctuation, kana and full-width forms.
const ImWchar kChineseRanges[] = {
    0x0020, 0x00FF, 0x2000, 0x206F, 0x3000, 0x30FF, 0x31F0, 0x31FF, 0xFF00, 0xFFEF, 0x4E00, 0x9FFF, 0,
};

const ImWchar kDevanagariRanges[] = {0x0900, 0x097F, 0xA8E0, 0xA8FF, 0};

const char* const kBaseCandidates[] = {"segoeui.ttf", "YuGothM.ttc", "arial.ttf"};
const char* const kJapaneseCandidates[] = {"YuGothM.ttc", "YuGothR.ttc", "meiryo.ttc", "msgothic.ttc"};
const char* const kChineseCandidates[] = {"msyh.ttc", "msyhl.ttc", "msjh.ttc", "msjhl.ttc", "simsun.ttc", "mingliu.ttc"};
const char* const kKoreanCandidates[] = {"malgun.ttf", "malgunbd.ttf", "gulim.ttc", "batang.ttc"};
const char* const kThaiCandidates[] = {"leelawui.ttf", "leelauib.ttf", "leelaws.ttf", "tahoma.ttf"};
const char* const kDevanagariCandidates[] = {"Nirmala.ttf", "nirmala.ttf", "NirmalaB.ttf", "nirmalab.ttf", "NirmalaS.ttf",
                                             "nirmalas.ttf", "mangal.ttf", "Mangal.ttf", "mangalb.ttf"};

struct ScriptFont {
  const char* label;
  const char* const* candidates;
  int candidateCount;
  const ImWchar* ranges;
};

// Tries the candidates in order; returns the accepted path, or an empty text.
std::string addFirstUsable(ImFontAtlas* atlas, const std::string& folder, const char* const* candidates, int count,
                           const ImFontConfig& config, const ImWchar* ranges, float size) {
  for (int i = 0; i < count; ++i) {
    std::string path = folder + candidates[i];
    FontFileStatus status = checkFontFile(path.c_str());
    if (status == FontFileStatus::Damaged) logLine("[font] %s is damaged or not a font, skipped\n", path.c_str());
    if (status != FontFileStatus::Usable) continue;  // Dear ImGui asserts on a missing file
    if (atlas->AddFontFromFileTTF(path.c_str(), size, &config, ranges) != nullptr) return path;
  }
  return std::string();
}

}  // namespace

void loadFonts(ImFontAtlas* atlas, const char* folder, float scale) {
  if (atlas == nullptr) return;
  if (!(scale > 0.0f)) scale = 1.0f;
  const float size = kFontSize * scale;
  std::string dir = folder != nullptr ? folder : "";
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '/';

  ImFontConfig base;
  base.OversampleH = 2;
  base.OversampleV = 2;
  if (dir.empty() ||
      addFirstUsable(atlas, dir, kBaseCandidates, IM_ARRAYSIZE(kBaseCandidates), base, kBaseRanges, size).empty()) {
    if (scale == 1.0f) {
      atlas->AddFontDefault();
    } else {
      ImFontConfig builtIn;  // as AddFontDefault sets it up, at its own size scaled
      builtIn.OversampleH = 1;
      builtIn.OversampleV = 1;
      builtIn.PixelSnapH = true;
      builtIn.SizePixels = 13.0f * scale;
      atlas->AddFontDefault(&builtIn);
    }
    return;
  }

  ImFontConfig script;
  script.MergeMode = true;
  script.OversampleH = 1;
  script.OversampleV = 1;
  const ScriptFont scripts[] = {
      {"Japanese", kJapaneseCandidates, IM_ARRAYSIZE(kJapaneseCandidates), atlas->GetGlyphRangesJapanese()},
      {"Chinese", kChineseCandidates, IM_ARRAYSIZE(kChineseCandidates), kChineseRanges},
      {"Korean", kKoreanCandidates, IM_ARRAYSIZE(kKoreanCandidates), atlas->GetGlyphRangesKorean()},
      {"Thai", kThaiCandidates, IM_ARRAYSIZE(kThaiCandidates), atlas->GetGlyphRangesThai()},
      {"Devanagari", kDevanagariCandidates, IM_ARRAYSIZE(kDevanagariCandidates), kDevanagariRanges},
  };
  for (const ScriptFont& s : scripts) {
    std::string path = addFirstUsable(atlas, dir, s.candidates, s.candidateCount, script, s.ranges, size);
    if (path.empty())
      logLine("[font] %s MISSING\n", s.label);
    else
      logLine("[font] %s -> %s\n", s.label, path.c_str());
  }
}

}  // namespace i18n
