// The README's picture of the window, kept in the repository and made by the screenshot test.
// It is rewritten only when the window looks different outside the areas that change from run
// to run (the moving picture, the live statistics): it stays true without changing every run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace readmeshot {

struct Area {
  int left, top, right, bottom;
};

// Writes `rgba` (width x height, rows top first) as a compressed PNG to `path`, unless the PNG
// already there shows the same outside `changing`. False when it could not be written;
// `rewritten` says whether it was.
bool keep(const std::wstring& path, int width, int height, const std::vector<std::uint8_t>& rgba,
          const std::vector<Area>& changing, bool* rewritten);

}  // namespace readmeshot
