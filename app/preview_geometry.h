// Where the preview picture goes in its box and how it is turned: the fit into the box, the
// texture coordinates for rotation, mirror and flip, the rotation buttons and the angle text.
// Portable: plain numbers in, plain numbers out; the caller draws.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace app {

// The preview box is this high at 96 DPI (times the display scale above); its width is whatever
// the window gives it.
constexpr float kPreviewBoxHeight = 360.0f;

struct PreviewPoint {
  float x = 0.0f;
  float y = 0.0f;
};

// The picture's rectangle inside the box: `left` from the box's left edge, top at the box's top.
struct PreviewFit {
  float left = 0.0f;
  float width = 0.0f;
  float height = 0.0f;
};

// The texture of textureWidth x textureHeight, turned by `rotation` quarter turns (only its two
// lowest bits count), scaled to fit a box boxWidth wide and boxHeight high, centred
// across and at the top. With no texture (a zero side) the fit is the whole box. A box width of
// zero or less (or not a number) fits the picture into nothing.
PreviewFit fitPreview(std::uint32_t textureWidth, std::uint32_t textureHeight, int rotation, float boxWidth,
                      float boxHeight = kPreviewBoxHeight);

// Texture coordinates of the drawn corners in the order top-left, top-right, bottom-right,
// bottom-left: the picture turned `rotation` quarter turns clockwise (two lowest bits), then
// mirrored left-right, then flipped top-bottom.
std::array<PreviewPoint, 4> previewTexCoords(int rotation, bool mirror, bool flip);

// The rotation buttons: a quarter turn either way, always 0..3.
inline int rotatedLeft(int rotation) { return (rotation - 1) & 3; }
inline int rotatedRight(int rotation) { return (rotation + 1) & 3; }

// The phone's reported degrees in quarter turns 0..3: ((degrees / 90) mod 4 + 4) mod 4 with
// truncating division, so 45 gives 0, 135 gives 1 and -90 gives 3.
int quarterTurnsFromDegrees(std::int32_t degrees);

// The dimmed text after the controls, e.g. " (270°)" (UTF-8).
std::string previewAngleText(int rotation);

}  // namespace app
