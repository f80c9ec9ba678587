// The preview: the newest decoded picture taken from the hand-off slot, converted to RGBA into a
// dynamic texture, and drawn fitted into its box, turned, mirrored and flipped as chosen.
#include <d3d11.h>

#include <string>

#include "app/app_win.h"
#include "app/graphics_win.h"
#include "app/preview_geometry.h"
#include "common/debug_log.h"
#include "common/steady_clock.h"
#include "i18n/localizer.h"
#include "pixels/to_rgba.h"
#include "imgui.h"

namespace app {

namespace {

// A whole picture, checked before the texture is touched (the conversion refuses less).
bool readable(const pixels::Nv12View& picture) {
  if (picture.width == 0 || picture.height == 0 || picture.stride < picture.width) return false;
  return picture.size >= pixels::nv12Bytes(picture.stride, picture.height);
}

}  // namespace

void App::useDevice(ID3D11Device* device, ID3D11DeviceContext* context) {
  previewSrv_.Reset();
  previewTexture_.Reset();
  textureWidth_ = 0;
  textureHeight_ = 0;
  device_ = device;
  context_ = context;
  deviceLoss_ = S_OK;
}

HRESULT App::takeDeviceLoss() {
  const HRESULT loss = deviceLoss_;
  deviceLoss_ = S_OK;
  return loss;
}

void App::uploadPreview() {
  if (device_ == nullptr || context_ == nullptr) return;
  media::DecodedFrame taken;
  if (!session_.pictures().take(taken)) return;
  const std::uint32_t width = taken.width;
  const std::uint32_t height = taken.height;

  const pixels::Nv12View picture = taken.view();
  if (!readable(picture)) {
    logLine("[Preview] picture %ux%u dropped: %zu bytes of stride %u cannot hold it\n", width, height,
            taken.data.size(), taken.stride);
    return;
  }

  if (width != textureWidth_ || height != textureHeight_) {
    previewSrv_.Reset();
    previewTexture_.Reset();
    textureWidth_ = 0;
    textureHeight_ = 0;

    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.SampleDesc.Quality = 0;
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    desc.MiscFlags = 0;
    const HRESULT created = device_->CreateTexture2D(&desc, nullptr, &previewTexture_);
    if (FAILED(created)) {
      if (deviceLost(created)) deviceLoss_ = created;
      previewTexture_.Reset();
      return;
    }
    D3D11_SHADER_RESOURCE_VIEW_DESC view = {};
    view.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    view.Texture2D.MostDetailedMip = 0;
    view.Texture2D.MipLevels = 1;
    if (FAILED(device_->CreateShaderResourceView(previewTexture_.Get(), &view, &previewSrv_))) {
      previewSrv_.Reset();
      previewTexture_.Reset();
      return;
    }
    textureWidth_ = width;
    textureHeight_ = height;
  }

  D3D11_MAPPED_SUBRESOURCE mapped = {};
  const HRESULT mapResult = context_->Map(previewTexture_.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped);
  if (FAILED(mapResult)) {
    if (deviceLost(mapResult)) deviceLoss_ = mapResult;
    return;
  }
  // A mapped 2D texture holds RowPitch bytes for each of its rows.
  bool converted = pixels::nv12ToRgba(picture, {static_cast<std::uint8_t*>(mapped.pData),
                                               std::size_t(mapped.RowPitch) * picture.height, picture.width,
                                               picture.height, mapped.RowPitch});
  context_->Unmap(previewTexture_.Get(), 0);
  if (!converted) {
    // Checked above; only a row pitch below the picture's width lands here.
    logLine("[Preview] picture %ux%u dropped: texture row pitch %u\n", width, height, mapped.RowPitch);
    return;
  }

  textureTurned_ = taken.turned;
  previewRate_.count(steadyNowNs(), 1.0);
}

void App::drawPreview() {
  uploadPreview();

  const float available = ImGui::GetContentRegionAvail().x;
  session::Orientation& orientation = session_.orientation();
  // The picture as chosen, from the picture as published: a picture the camera already got
  // turned is drawn as it is, never turned twice.
  const media::Turn chosen = {orientation.rotation.load(), orientation.mirror.load(), orientation.flip.load()};
  const media::Turn shown = media::canonical(media::followedBy(media::inverse(textureTurned_), chosen));
  const int rotation = shown.rotation;
  const float boxHeight = px(kPreviewBoxHeight);
  const PreviewFit fit = fitPreview(textureWidth_, textureHeight_, rotation, available, boxHeight);

  const ImVec2 p = ImGui::GetCursorScreenPos();
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const ImVec2 boxEnd(p.x + available, p.y + boxHeight);
  draw->AddRectFilled(p, boxEnd, IM_COL32(12, 12, 16, 255), px(12.0f), ImDrawFlags_RoundCornersAll);
  draw->AddRect(p, boxEnd, IM_COL32(255, 255, 255, 20), px(12.0f), ImDrawFlags_RoundCornersAll, px(1.0f));

  if (previewSrv_ != nullptr) {
    const float x0 = p.x + fit.left;
    const std::array<PreviewPoint, 4> uv = previewTexCoords(rotation, shown.mirror, false);
    auto vec = [](PreviewPoint point) { return ImVec2(point.x, point.y); };
    draw->AddImageQuad(reinterpret_cast<ImTextureID>(previewSrv_.Get()), ImVec2(x0, p.y), ImVec2(x0 + fit.width, p.y),
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
