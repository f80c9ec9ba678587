#include "app/preview_texture_win.h"

#include "app/graphics_win.h"
#include "common/debug_log.h"
#include "pixels/to_rgba.h"

namespace app {

namespace {

// A whole picture, checked before the texture is touched (the conversion refuses less).
bool readable(const pixels::Nv12View& picture) {
  if (picture.width == 0 || picture.height == 0 || picture.stride < picture.width) return false;
  return picture.size >= pixels::nv12Bytes(picture.stride, picture.height);
}

}  // namespace

void PreviewTexture::useDevice(ID3D11Device* device, ID3D11DeviceContext* context) {
  release();
  device_ = device;
  context_ = context;
  deviceLoss_ = S_OK;
}

void PreviewTexture::release() {
  view_.Reset();
  texture_.Reset();
  width_ = 0;
  height_ = 0;
}

HRESULT PreviewTexture::takeDeviceLoss() {
  const HRESULT loss = deviceLoss_;
  deviceLoss_ = S_OK;
  return loss;
}

bool PreviewTexture::makeTexture(std::uint32_t width, std::uint32_t height) {
  release();
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
  const HRESULT created = device_->CreateTexture2D(&desc, nullptr, &texture_);
  if (FAILED(created)) {
    if (deviceLost(created)) deviceLoss_ = created;
    texture_.Reset();
    return false;
  }
  D3D11_SHADER_RESOURCE_VIEW_DESC view = {};
  view.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
  view.Texture2D.MostDetailedMip = 0;
  view.Texture2D.MipLevels = 1;
  if (FAILED(device_->CreateShaderResourceView(texture_.Get(), &view, &view_))) {
    release();
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

bool PreviewTexture::upload(const pixels::Nv12View& picture, const pixels::Turn& turned) {
  if (device_ == nullptr || context_ == nullptr) return false;
  if (!readable(picture)) {
    logLine("[Preview] picture %ux%u dropped: %zu bytes of stride %u cannot hold it\n", picture.width,
            picture.height, picture.size, picture.stride);
    return false;
  }
  if ((picture.width != width_ || picture.height != height_) && !makeTexture(picture.width, picture.height)) {
    return false;
  }

  D3D11_MAPPED_SUBRESOURCE mapped = {};
  const HRESULT mapResult = context_->Map(texture_.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped);
  if (FAILED(mapResult)) {
    if (deviceLost(mapResult)) deviceLoss_ = mapResult;
    return false;
  }
  // A mapped 2D texture holds RowPitch bytes for each of its rows.
  const bool converted = pixels::nv12ToRgba(picture, {static_cast<std::uint8_t*>(mapped.pData),
                                                     std::size_t(mapped.RowPitch) * picture.height, picture.width,
                                                     picture.height, mapped.RowPitch});
  context_->Unmap(texture_.Get(), 0);
  if (!converted) {
    // Checked above; only a row pitch below the picture's width lands here.
    logLine("[Preview] picture %ux%u dropped: texture row pitch %u\n", picture.width, picture.height,
            mapped.RowPitch);
    return false;
  }
  turned_ = turned;
  return true;
}

}  // namespace app
