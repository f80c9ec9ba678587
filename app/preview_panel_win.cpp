// The preview: the newest decoded picture taken from the hand-off slot, converted to RGBA into its
// texture (preview_texture_win.h), and drawn fitted into its box, turned, mirrored and flipped as chosen.
#include <d3d11.h>

#include <string>

#include "app/app_win.h"
#include "app/preview_geometry.h"
#include "common/steady_clock.h"
#include "i18n/localizer.h"
#include "imgui.h"

namespace app {

void App::useDevice(ID3D11Device* device, ID3D11DeviceContext* context) { preview_.useDevice(device, context); }

HRESULT App::takeDeviceLoss() { return preview_.takeDeviceLoss(); }

void App::uploadPreview() {
  if (preview_.device() == nullptr || preview_.context() == nullptr) return;
  media::DecodedFrame taken;
  if (!session_.pictures().take(taken)) return;
  if (preview_.upload(taken.view(), taken.turned)) previewRate_.count(steadyNowNs(), 1.0);
}

void App::drawPreview() {
  uploadPreview();

  const float available = ImGui::GetContentRegionAvail().x;
  session::Orientation& orientation = session_.orientation();
  // The picture as chosen, from the picture as published: a picture the camera already got
  // turned is drawn as it is, never turned twice.
  const pixels::Turn chosen = {orientation.rotation.load(), orientation.mirror.load(), orientation.flip.load()};
  const pixels::Turn shown = pixels::canonical(pixels::followedBy(pixels::inverse(preview_.turned()), chosen));
  const int rotation = shown.rotation;
  const float boxHeight = px(kPreviewBoxHeight);
  const PreviewFit fit = fitPreview(preview_.width(), preview_.height(), rotation, available, boxHeight);

  const ImVec2 p = ImGui::GetCursorScreenPos();
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const ImVec2 boxEnd(p.x + available, p.y + boxHeight);
  draw->AddRectFilled(p, boxEnd, IM_COL32(12, 12, 16, 255), px(12.0f), ImDrawFlags_RoundCornersAll);
  draw->AddRect(p, boxEnd, IM_COL32(255, 255, 255, 20), px(12.0f), ImDrawFlags_RoundCornersAll, px(1.0f));

  if (preview_.view() != nullptr) {
    const float x0 = p.x + fit.left;
    const std::array<PreviewPoint, 4> uv = previewTexCoords(rotation, shown.mirror, false);
    auto vec = [](PreviewPoint point) { return ImVec2(point.x, point.y); };
    draw->AddImageQuad(reinterpret_cast<ImTextureID>(preview_.view()), ImVec2(x0, p.y), ImVec2(x0 + fit.width, p.y),
                       ImVec2(x0 + fit.width, p.y + fit.height), ImVec2(x0, p.y + fit.height), vec(uv[0]), vec(uv[1]),
                       vec(uv[2]), vec(uv[3]), IM_COL32_WHITE);
  } else {
    const char* text = "No signal";
    const ImVec2 size = ImGui::CalcTextSize(text, nullptr, false, -1.0f);
    draw->AddText(ImVec2(p.x + (available - size.x) / 2.0f, p.y + (boxHeight - size.y) / 2.0f),
                  IM_COL32(128, 128, 130, 255), text);
  }
  ImGui::Dummy(ImVec2(available, boxHeight));

  ImGui::PushStyleColor(ImGuiCol_Text, IM_COL32(200, 200, 210, 255));
  if (ImGui::SmallButton("Rotate L")) orientation.rotation.store(rotatedLeft(orientation.rotation.load()));
  ImGui::SameLine();
  if (ImGui::SmallButton("Rotate R")) orientation.rotation.store(rotatedRight(orientation.rotation.load()));
  ImGui::SameLine();
  bool mirror = orientation.mirror.load();
  if (ImGui::Checkbox("Mirror", &mirror)) orientation.mirror.store(mirror);
  ImGui::SameLine();
  bool flip = orientation.flip.load();
  if (ImGui::Checkbox("Flip", &flip)) orientation.flip.store(flip);
  ImGui::SameLine();
  ImGui::TextDisabled("%s", previewAngleText(orientation.rotation.load()).c_str());
  ImGui::SameLine();
  // Its own identifier, whatever the language.
  bool follow = orientation.follow.load();
  const std::string label = i18n::Localizer::instance().translate("preview.follow") + "###follow";
  if (ImGui::Checkbox(label.c_str(), &follow)) orientation.follow.store(follow);
  ImGui::PopStyleColor();
}

}  // namespace app
