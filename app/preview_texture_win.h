// The preview's picture on the GPU: a dynamic RGBA texture and its shader view, made at the
// picture's size and again whenever the size or the device changes. UI thread only.
#pragma once

#include <d3d11.h>
#include <wrl/client.h>

#include <cstdint>

#include "pixels/picture_turn.h"
#include "pixels/nv12_view.h"

namespace app {

class PreviewTexture {
 public:
  // Neither object is owned; both must outlive their use here. Null while there is no device.
  PreviewTexture(ID3D11Device* device, ID3D11DeviceContext* context) : device_(device), context_(context) {}

  // The device to draw with from now on, after the old one was lost: the texture went with it
  // and is made again by the next upload.
  void useDevice(ID3D11Device* device, ID3D11DeviceContext* context);
  // Converts the picture, published turned as `turned`, into the texture. False when it was not
  // drawn there (no device, a picture that cannot hold its size, a failed texture or map).
  bool upload(const pixels::Nv12View& picture, const pixels::Turn& turned);
  // Drops the texture; the next upload makes it again.
  void release();
  // The failure by which an upload found the device lost, once; S_OK when there was none.
  HRESULT takeDeviceLoss();

  ID3D11Device* device() const { return device_; }
  ID3D11DeviceContext* context() const { return context_; }
  ID3D11Texture2D* texture() const { return texture_.Get(); }
  // Null until a picture was uploaded.
  ID3D11ShaderResourceView* view() const { return view_.Get(); }
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  // How the picture in the texture was turned before it was published.
  const pixels::Turn& turned() const { return turned_; }

 private:
  bool makeTexture(std::uint32_t width, std::uint32_t height);

  ID3D11Device* device_ = nullptr;
  ID3D11DeviceContext* context_ = nullptr;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> texture_;
  Microsoft::WRL::ComPtr<ID3D11ShaderResourceView> view_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  pixels::Turn turned_;
  HRESULT deviceLoss_ = S_OK;  // what told an upload that the device is gone, not yet taken
};

}  // namespace app
