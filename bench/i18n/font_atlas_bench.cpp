// Start-up cost of the script fonts: loading and building the atlas with every script merged,
// side by side with the same atlas without the Chinese block, and the texture each one needs.
// Usage: font_atlas_bench [fonts-root]  (the root holds all/ and no-chinese/)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "i18n/font_loader.h"
#include "imgui.h"
#ifndef _WIN32
#include "common/debug_output_hook.h"
#endif

namespace {

struct Result {
  double loadMs = 1e30;
  double buildMs = 1e30;
  int width = 0, height = 0, glyphs = 0;
  bool ok = true;
};

void measureOnce(const std::string& folder, Result& r) {
  using Clock = std::chrono::steady_clock;
  ImGui::CreateContext();
  ImFontAtlas* atlas = ImGui::GetIO().Fonts;
  Clock::time_point t0 = Clock::now();
  i18n::loadFonts(atlas, folder.c_str());
  Clock::time_point t1 = Clock::now();
  r.ok = r.ok && atlas->Build();
  Clock::time_point t2 = Clock::now();
  r.loadMs = std::min(r.loadMs, std::chrono::duration<double, std::milli>(t1 - t0).count());
  r.buildMs = std::min(r.buildMs, std::chrono::duration<double, std::milli>(t2 - t1).count());
  r.width = atlas->TexWidth;
  r.height = atlas->TexHeight;
  r.glyphs = atlas->Fonts.Size > 0 ? atlas->Fonts[0]->Glyphs.Size : 0;
  ImGui::DestroyContext();
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  debuglog::setOutputHook([](const char*, void*) {}, nullptr);  // the "[font]" lines are not the point here
#endif
  const std::string root = argc > 1 ? argv[1] : BRINDLE_BENCH_FONTS_DIR;
  Result all, noChinese;
  for (int round = 0; round < 3; ++round) {  // interleaved, best of three
    measureOnce(root + "/all/", all);
    measureOnce(root + "/no-chinese/", noChinese);
  }
  if (!all.ok || !noChinese.ok) {
    std::printf("atlas build failed (fonts in %s?)\n", root.c_str());
    return 1;
  }
  std::printf("atlas build, all scripts: %.2fx without Chinese (%.1f ms vs %.1f ms)\n", all.buildMs / noChinese.buildMs,
              all.buildMs, noChinese.buildMs);
  std::printf("font loading, all scripts: %.2fx without Chinese (%.1f ms vs %.1f ms)\n", all.loadMs / noChinese.loadMs,
              all.loadMs, noChinese.loadMs);
  const double allMiB = all.width * double(all.height) / (1024.0 * 1024.0);
  const double noChineseMiB = noChinese.width * double(noChinese.height) / (1024.0 * 1024.0);
  std::printf("atlas texture, all scripts: %.2fx without Chinese (%dx%d, %.1f MiB alpha / %.1f MiB RGBA vs %dx%d)\n",
              allMiB / noChineseMiB, all.width, all.height, allMiB, allMiB * 4, noChinese.width, noChinese.height);
  std::printf("glyphs, all scripts: %.2fx without Chinese (%d vs %d)\n", double(all.glyphs) / noChinese.glyphs, all.glyphs,
              noChinese.glyphs);
  return 0;
}
