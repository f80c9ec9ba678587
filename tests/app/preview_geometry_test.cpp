// The preview's fit into its box, its texture coordinates, the rotation controls and the preview
// rate, with the window sizes and pictures the preview meets.
#include "app/preview_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void expectFit(app::PreviewFit got, float left, float width, float height) {
  EXPECT_FLOAT_EQ(got.left, left);
  EXPECT_FLOAT_EQ(got.width, width);
  EXPECT_FLOAT_EQ(got.height, height);
}

TEST(PreviewGeometry, FitsIntoTheBoxCentredAcrossAndAtTheTop) {
  // Limited by the height: 640 x 360, 16 pixels from each side.
  expectFit(app::fitPreview(1920, 1080, 0, 672.0f), 16.0f, 640.0f, 360.0f);
  // Turned a quarter: 1080 x 1920 shown, 202.5 x 360 centred.
  expectFit(app::fitPreview(1920, 1080, 1, 672.0f), (672.0f - 202.5f) / 2, 202.5f, 360.0f);
  expectFit(app::fitPreview(1920, 1080, 3, 672.0f), (672.0f - 202.5f) / 2, 202.5f, 360.0f);
  expectFit(app::fitPreview(1920, 1080, 2, 672.0f), 16.0f, 640.0f, 360.0f);
  // Limited by the width: 480 x 270 at the top, the lower 90 pixels stay empty.
  expectFit(app::fitPreview(1920, 1080, 0, 480.0f), 0.0f, 480.0f, 270.0f);
  // Only the two lowest bits of the rotation count.
  expectFit(app::fitPreview(1920, 1080, 5, 672.0f), (672.0f - 202.5f) / 2, 202.5f, 360.0f);
  // Exactly as wide as the box allows at full height.
  expectFit(app::fitPreview(1280, 720, 0, 640.0f), 0.0f, 640.0f, 360.0f);
  // Odd sizes keep their aspect ratio.
  app::PreviewFit odd = app::fitPreview(33, 5, 0, 300.0f);
  EXPECT_NEAR(odd.width / odd.height, 33.0 / 5.0, 1e-4);
  EXPECT_FLOAT_EQ(odd.width, 300.0f);
}

TEST(PreviewGeometry, NoTextureOrNoRoomStaysSane) {
  expectFit(app::fitPreview(0, 0, 0, 500.0f), 0.0f, 500.0f, 360.0f);
  expectFit(app::fitPreview(1920, 0, 1, 500.0f), 0.0f, 500.0f, 360.0f);
  // A collapsed or not yet measured window: nothing drawn, no negative or NaN size.
  expectFit(app::fitPreview(1920, 1080, 0, 0.0f), 0.0f, 0.0f, 0.0f);
  expectFit(app::fitPreview(1920, 1080, 0, -40.0f), 0.0f, 0.0f, 0.0f);
  expectFit(app::fitPreview(1920, 1080, 0, std::numeric_limits<float>::quiet_NaN()), 0.0f, 0.0f, 0.0f);
  // The largest textures do not overflow.
  app::PreviewFit huge = app::fitPreview(0xFFFFFFFFu, 1, 0, 800.0f);
  EXPECT_FLOAT_EQ(huge.width, 800.0f);
  EXPECT_TRUE(std::isfinite(huge.height));
}

using Corners = std::array<app::PreviewPoint, 4>;

bool sameCorners(const Corners& a, const Corners& b) {
  for (int i = 0; i < 4; i++)
    if (a[i].x != b[i].x || a[i].y != b[i].y) return false;
  return true;
}

Corners corners(float a, float b, float c, float d, float e, float f, float g, float h) {
  return {{{a, b}, {c, d}, {e, f}, {g, h}}};
}

TEST(PreviewGeometry, TextureCoordinatesTurnMirrorAndFlip) {
  // Top-left, top-right, bottom-right, bottom-left for each quarter turn clockwise.
  EXPECT_TRUE(sameCorners(app::previewTexCoords(0, false, false), corners(0, 0, 1, 0, 1, 1, 0, 1)));
  EXPECT_TRUE(sameCorners(app::previewTexCoords(1, false, false), corners(0, 1, 0, 0, 1, 0, 1, 1)));
  EXPECT_TRUE(sameCorners(app::previewTexCoords(2, false, false), corners(1, 1, 0, 1, 0, 0, 1, 0)));
  EXPECT_TRUE(sameCorners(app::previewTexCoords(3, false, false), corners(1, 0, 1, 1, 0, 1, 0, 0)));
  // Mirror swaps left and right, flip top and bottom, after the turn.
  EXPECT_TRUE(sameCorners(app::previewTexCoords(0, true, false), corners(1, 0, 0, 0, 0, 1, 1, 1)));
  EXPECT_TRUE(sameCorners(app::previewTexCoords(0, false, true), corners(0, 1, 1, 1, 1, 0, 0, 0)));
  EXPECT_TRUE(sameCorners(app::previewTexCoords(1, true, false), corners(0, 0, 0, 1, 1, 1, 1, 0)));
  // Mirror and flip together are a half turn, at every rotation.
  for (int r = 0; r < 4; r++)
    EXPECT_TRUE(sameCorners(app::previewTexCoords(r, true, true), app::previewTexCoords(r + 2, false, false))) << r;
  // Any rotation value works by its two lowest bits, negative ones included.
  EXPECT_TRUE(sameCorners(app::previewTexCoords(7, false, false), app::previewTexCoords(3, false, false)));
  EXPECT_TRUE(sameCorners(app::previewTexCoords(-1, false, false), app::previewTexCoords(3, false, false)));
}

TEST(PreviewGeometry, RotationControlsAndPhoneDegrees) {
  EXPECT_EQ(app::rotatedLeft(0), 3);
  EXPECT_EQ(app::previewAngleText(app::rotatedLeft(0)), " (270\xC2\xB0)");
  EXPECT_EQ(app::rotatedRight(3), 0);
  EXPECT_EQ(app::previewAngleText(0), " (0\xC2\xB0)");
  EXPECT_EQ(app::rotatedLeft(app::rotatedRight(2)), 2);
  const struct {
    int degrees, turns;
  } cases[] = {{0, 0},   {90, 1},  {180, 2}, {270, 3}, {360, 0},  {450, 1},
               {45, 0},  {135, 1}, {-90, 3}, {-45, 0}, {-180, 2}, {std::numeric_limits<std::int32_t>::min(), 3}};
  for (auto c : cases) EXPECT_EQ(app::quarterTurnsFromDegrees(c.degrees), c.turns) << c.degrees;
}

}  // namespace
