#include "app/preview_geometry.h"

#include <cstdio>
#include <utility>

namespace app {

PreviewFit fitPreview(std::uint32_t textureWidth, std::uint32_t textureHeight, int rotation, float boxWidth,
                      float boxHeight) {
  const double A = boxWidth > 0.0f ? double(boxWidth) : 0.0;
  double tw = textureWidth, th = textureHeight;
  if (rotation & 1) std::swap(tw, th);
  PreviewFit fit;
  if (tw == 0.0 || th == 0.0) {
    fit.width = float(A);
    fit.height = boxHeight;
    return fit;
  }
  // Compared as cross products so that the limiting side comes out exact: a picture limited by
  // the height fills it to the pixel.
  const double H = boxHeight;
  double w, h;
  if (H * tw <= A * th) {
    h = H;
    w = H * tw / th;
  } else {
    w = A;
    h = A * th / tw;
  }
  fit.left = float((A - w) / 2.0);
  fit.width = float(w);
  fit.height = float(h);
  return fit;
}

std::array<PreviewPoint, 4> previewTexCoords(int rotation, bool mirror, bool flip) {
  std::array<PreviewPoint, 4> c = {{{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}}};
  // Each step hands every corner the coordinates of the corner before it, clockwise.
  for (int step = 0; step < (rotation & 3); step++) c = {c[3], c[0], c[1], c[2]};
  if (mirror) {
    std::swap(c[0], c[1]);
    std::swap(c[3], c[2]);
  }
  if (flip) {
    std::swap(c[0], c[3]);
    std::swap(c[1], c[2]);
  }
  return c;
}

int quarterTurnsFromDegrees(std::int32_t degrees) { return ((degrees / 90) % 4 + 4) % 4; }

std::string previewAngleText(int rotation) {
  char text[16];
  std::snprintf(text, sizeof(text), " (%d\xC2\xB0)", (rotation & 3) * 90);
  return text;
}

}  // namespace app
