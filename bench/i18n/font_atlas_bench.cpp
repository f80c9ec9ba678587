// Start-up cost of the script fonts: loading the fonts and building the atlas with every script
// merged, side by side with the same atlas without the Chinese block, and the texture each needs.
// Usage: font_atlas_bench [fonts-root]  (the root holds all/ and no-chinese/)
#include <cstdio>
#include <string>

#include "i18n/font_loader.h"
#include "imgui.h"
#include "support/bench_timer.h"
#ifndef _WIN32
#include "common/debug_output_hook.h"
#endif

namespace {

struct Atlas {
  bool built = false;
  int width = 0, height = 0, glyphs = 0;
};

// What the program does at start-up, from a fresh context.
Atlas buildAtlas(const std::string& folder) {
  ImGui::CreateContext();
  ImFontAtlas* fonts = ImGui::GetIO().Fonts;
  i18n::loadFonts(fonts, folder.c_str());
  Atlas a;
  a.built = fonts->Build();
  a.width = fonts->TexWidth;
  a.height = fonts->TexHeight;
  a.glyphs = fonts->Fonts.Size > 0 ? fonts->Fonts[0]->Glyphs.Size : 0;
  ImGui::DestroyContext();
  return a;
}

double mib(const Atlas& a) { return a.width * double(a.height) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  debuglog::setOutputHook([](const char*, void*) {}, nullptr);  // the "[font]" lines are not the point here
#endif
  const std::string root = argc > 1 ? argv[1] : BRINDLE_BENCH_FONTS_DIR;
  Atlas all, noChinese;
  bench::Pair time = bench::sideBySide(
      3, [&] { all = buildAtlas(root + "/all/"); }, [&] { noChinese = buildAtlas(root + "/no-chinese/"); });
  if (!all.built || !noChinese.built) {
    std::printf("atlas build failed (fonts in %s?)\n", root.c_str());
    return 1;
  }
  std::printf("font atlas start-up, all scripts: %.2fx without Chinese (%.0f ms vs %.0f ms)\n", time.ratio(),
              time.subject * 1000, time.baseline * 1000);
  std::printf("font atlas texture, all scripts: %.2fx without Chinese (%dx%d = %.0f MiB as RGBA vs %dx%d)\n",
              mib(all) / mib(noChinese), all.width, all.height, mib(all) * 4, noChinese.width, noChinese.height);
  std::printf("font atlas glyphs, all scripts: %.2fx without Chinese (%d vs %d)\n", double(all.glyphs) / noChinese.glyphs,
              all.glyphs, noChinese.glyphs);
  return 0;
}
