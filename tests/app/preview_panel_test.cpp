// The preview inside App: pictures taken from the session's hand-off slot into a real Direct3D 11
// texture (read back and compared with the reference conversion), the texture's lifetime, the
// quad that draws it, "No signal" and the orientation controls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pixels/to_rgba.h"
#include "media/decoded_frame.h"
#include "panel_harness_win.h"

namespace {

constexpr const char* kMain = "##main";
const ImU32 kNoSignal = IM_COL32(128, 128, 130, 255);

// A packed NV12 picture whose every byte differs from its neighbours, seeded so that two
// pictures of one size differ.
media::DecodedFrame picture(std::uint32_t width, std::uint32_t height, unsigned seed) {
  media::DecodedFrame frame;
  frame.width = width;
  frame.height = height;
  frame.codedHeight = height;
  frame.stride = width;
  frame.data.resize(std::size_t(pixels::nv12Bytes(width, height)));
  for (std::size_t i = 0; i < frame.data.size(); ++i) frame.data[i] = std::uint8_t((i * 37 + seed * 101) ^ (i >> 7));
  return frame;
}

class PreviewPanelTest : public AppPanelTest {
 protected:
  std::vector<std::uint8_t> readTexture() {
    return PanelHarness::readPixels(h.device(), h.context(), probe->previewTexture());
  }

  static std::vector<std::uint8_t> reference(const media::DecodedFrame& frame) {
    std::vector<std::uint8_t> rgba(std::size_t(frame.width) * frame.height * 4);
    EXPECT_TRUE(pixels::nv12ToRgba(frame.view(), {rgba.data(), rgba.size(), frame.width, frame.height, frame.width * 4},
                                   pixels::PixelKernel::Scalar));
    return rgba;
  }

  // The corners of the preview's picture as the last frame drew them: top-left, top-right,
  // bottom-right, bottom-left.
  std::vector<ImDrawVert> quad() {
    const ImTextureID texture = reinterpret_cast<ImTextureID>(probe->previewSrv());
    ImGuiWindow* w = PanelHarness::window(kMain);
    for (const ImDrawCmd& cmd : w->DrawList->CmdBuffer) {
      if (texture == nullptr || cmd.TextureId != texture || cmd.ElemCount == 0) continue;
      std::vector<ImDrawVert> corners;
      for (unsigned i = 0; i < cmd.ElemCount; ++i) {
        const ImDrawVert& v = w->DrawList->VtxBuffer[cmd.VtxOffset + w->DrawList->IdxBuffer[cmd.IdxOffset + i]];
        corners.push_back(v);
      }
      // AddImageQuad: top-left, top-right, bottom-right, bottom-left, indexed 0,1,2 then 0,2,3.
      return {corners[0], corners[1], corners[2], corners[5]};
    }
    return {};
  }
  // The quad's drawn size and where its top-left corner samples the picture.
  void expectQuad(float width, float height, ImVec2 topLeftUv) {
    const std::vector<ImDrawVert> q = quad();
    ASSERT_EQ(q.size(), 4u);
    EXPECT_NEAR(q[2].pos.x - q[0].pos.x, width, 0.5f);
    EXPECT_NEAR(q[2].pos.y - q[0].pos.y, height, 0.5f);
    EXPECT_EQ(q[0].uv.x, topLeftUv.x);
    EXPECT_EQ(q[0].uv.y, topLeftUv.y);
    EXPECT_EQ(q[2].uv.x, 1.0f - topLeftUv.x) << "the opposite corner samples the opposite one";
    EXPECT_EQ(q[2].uv.y, 1.0f - topLeftUv.y);
  }
};

TEST_F(PreviewPanelTest, NoSignalUntilThePictureThenThePictureAndTheTextureOutlivesStop) {
  h.frame(*app);
  EXPECT_EQ(probe->previewTexture(), nullptr);
  EXPECT_GT(PanelHarness::countColor(kMain, kNoSignal), 0) << "\"No signal\" in its grey";
  std::optional<ImRect> box = PanelHarness::boundsOfColor(kMain, IM_COL32(12, 12, 16, 255));
  ASSERT_TRUE(box.has_value());
  EXPECT_NEAR(box->GetHeight(), 360.0f, 0.5f);
  std::optional<ImRect> text = PanelHarness::boundsOfColor(kMain, kNoSignal);
  EXPECT_NEAR(centreOf(*text).x, centreOf(*box).x, 2.0f);
  EXPECT_NEAR(centreOf(*text).y, centreOf(*box).y, 2.0f);

  probe->session().pictures().put(picture(64, 32, 1));
  h.frame(*app);
  ASSERT_NE(probe->previewSrv(), nullptr);
  EXPECT_TRUE(PanelHarness::drawsTexture(kMain, reinterpret_cast<ImTextureID>(probe->previewSrv())));
  EXPECT_EQ(PanelHarness::countColor(kMain, kNoSignal), 0);

  probe->start();
  probe->session().stop();
  h.frame(*app);
  EXPECT_TRUE(PanelHarness::drawsTexture(kMain, reinterpret_cast<ImTextureID>(probe->previewSrv())))
      << "the last picture stays after stop";
}

TEST_F(PreviewPanelTest, TextureIsRecreatedOnlyOnASizeChangeAndHoldsTheExactConversion) {
  media::DecodedFrame first = picture(64, 32, 1);
  probe->session().pictures().put(first);
  probe->uploadPreview();
  ID3D11Texture2D* texture = probe->previewTexture();
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(probe->textureWidth(), 64u);
  EXPECT_EQ(probe->textureHeight(), 32u);
  EXPECT_EQ(readTexture(), reference(first));
  media::DecodedFrame left;
  EXPECT_FALSE(probe->session().pictures().take(left)) << "the upload took it";

  texture->AddRef();  // kept alive, so a new texture cannot take its address
  media::DecodedFrame second = picture(64, 32, 2);
  probe->session().pictures().put(second);
  probe->uploadPreview();
  EXPECT_EQ(probe->previewTexture(), texture) << "same size: reused";
  EXPECT_EQ(readTexture(), reference(second));

  probe->uploadPreview();  // nothing waiting: nothing changes
  EXPECT_EQ(probe->previewTexture(), texture);

  media::DecodedFrame turned = picture(32, 64, 3);
  probe->session().pictures().put(turned);
  probe->uploadPreview();
  EXPECT_NE(probe->previewTexture(), texture);
  EXPECT_EQ(probe->textureWidth(), 32u);
  EXPECT_EQ(probe->textureHeight(), 64u);
  EXPECT_EQ(readTexture(), reference(turned));
  texture->Release();
}

TEST_F(PreviewPanelTest, OddSizesAreShownWithoutReadingPast) {
  // 5 x 3: exactly three luma rows and two chroma rows, the last for the bottom row alone.
  media::DecodedFrame odd = picture(5, 3, 4);
  ASSERT_EQ(odd.data.size(), 25u);
  probe->session().pictures().put(odd);
  probe->uploadPreview();
  EXPECT_EQ(probe->textureWidth(), 5u);
  EXPECT_EQ(probe->textureHeight(), 3u);
  EXPECT_EQ(readTexture(), reference(odd));
}

TEST_F(PreviewPanelTest, PictureQuadIsFittedIntoTheBoxAndTurnedByTheControls) {
  probe->session().pictures().put(picture(1920, 1080, 8));
  h.frame(*app);
  ASSERT_NE(probe->previewSrv(), nullptr);
  std::optional<ImRect> box = PanelHarness::boundsOfColor(kMain, IM_COL32(12, 12, 16, 255));
  ASSERT_TRUE(box.has_value());
  const float boxWidth = box->GetWidth();  // 656: height-bound, 640 x 360, 8 from each side
  const std::vector<ImDrawVert> q = quad();
  ASSERT_EQ(q.size(), 4u);
  EXPECT_NEAR(q[0].pos.x, box->Min.x + (boxWidth - 640.0f) / 2, 0.5f);
  EXPECT_NEAR(q[0].pos.y, box->Min.y, 0.5f);
  expectQuad(640.0f, 360.0f, ImVec2(0.0f, 0.0f));

  // Rotate L at 0 gives 3: 270 degrees, drawn 202.5 x 360, the top-left corner samples (1, 0).
  clickItem(PanelHarness::idIn(kMain, "Rotate L"));
  EXPECT_EQ(probe->session().orientation().rotation.load(), 3);
  h.frame(*app);
  const std::string drawn = PanelHarness::drawnText(kMain);
  EXPECT_NE(drawn.find("(270\xC2\xB0)"), std::string::npos) << drawn;
  expectQuad(202.5f, 360.0f, ImVec2(1.0f, 0.0f));

  // Rotate R at 3 gives 0; Mirror and Flip together sample as rotation 2 does.
  clickItem(PanelHarness::idIn(kMain, "Rotate R"));
  EXPECT_EQ(probe->session().orientation().rotation.load(), 0);
  clickItem(PanelHarness::idIn(kMain, "Mirror"));
  clickItem(PanelHarness::idIn(kMain, "Flip"));
  EXPECT_TRUE(probe->session().orientation().mirror.load());
  EXPECT_TRUE(probe->session().orientation().flip.load());
  h.frame(*app);
  expectQuad(640.0f, 360.0f, ImVec2(1.0f, 1.0f));
}

TEST_F(PreviewPanelTest, ApplyToCameraTicksTheSessionAndAPublishedTurnIsNotTurnedAgain) {
  session::Orientation& orientation = probe->session().orientation();
  EXPECT_FALSE(orientation.follow.load()) << "off at start";
  h.frame(*app);
  EXPECT_NE(PanelHarness::drawnText(kMain).find("Applytocamera"), std::string::npos);
  clickItem(PanelHarness::idIn(kMain, "###follow"));
  EXPECT_TRUE(orientation.follow.load());

  // A quarter turn chosen and a picture the pipeline published turned that way: drawn upright.
  orientation.rotation.store(1);
  media::DecodedFrame turned = picture(1080, 1920, 3);
  turned.turned = {1, false, false};
  probe->session().pictures().put(turned);
  h.frame(*app);
  expectQuad(202.5f, 360.0f, ImVec2(0.0f, 0.0f));
  // Half a turn chosen since: the picture as published is turned the remaining quarter.
  clickItem(PanelHarness::idIn(kMain, "Rotate R"));
  h.frame(*app);
  expectQuad(640.0f, 360.0f, ImVec2(0.0f, 1.0f));
  // Unticked: the camera gets pictures as decoded again.
  clickItem(PanelHarness::idIn(kMain, "###follow"));
  EXPECT_FALSE(orientation.follow.load());
}

}  // namespace
