#include "app/graphics_win.h"

#include "common/debug_log.h"

namespace app {

bool createGraphics(HWND window, Graphics& graphics, const CreateDeviceFunction& createDevice) {
  DXGI_SWAP_CHAIN_DESC desc = {};
  desc.BufferDesc.Width = 0;  // taken from the window
  desc.BufferDesc.Height = 0;
  desc.BufferDesc.RefreshRate.Numerator = 0;
  desc.BufferDesc.RefreshRate.Denominator = 0;
  desc.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  desc.SampleDesc.Count = 1;
  desc.SampleDesc.Quality = 0;
  desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  desc.BufferCount = 2;
  desc.OutputWindow = window;
  desc.Windowed = TRUE;
  desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
  desc.Flags = 0;

  const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0};
  D3D_FEATURE_LEVEL level = {};
  auto attempt = [&](D3D_DRIVER_TYPE driverType) {
    if (createDevice) {
      return createDevice(nullptr, driverType, nullptr, 0, levels, 1, D3D11_SDK_VERSION, &desc,
                          &graphics.swapChain, &graphics.device, &level, &graphics.context);
    }
    return D3D11CreateDeviceAndSwapChain(nullptr, driverType, nullptr, 0, levels, 1, D3D11_SDK_VERSION, &desc,
                                         &graphics.swapChain, &graphics.device, &level, &graphics.context);
  };

  HRESULT hr = attempt(D3D_DRIVER_TYPE_HARDWARE);
  if (hr == DXGI_ERROR_UNSUPPORTED) {
    releaseGraphics(graphics);  // a failed call may still have handed something out
    hr = attempt(D3D_DRIVER_TYPE_WARP);
  }
  if (FAILED(hr) || graphics.device == nullptr || graphics.context == nullptr || graphics.swapChain == nullptr) {
    releaseGraphics(graphics);
    return false;
  }
  return true;
}

void releaseGraphics(Graphics& graphics) {
  graphics.mainRenderTargetView.Reset();
  graphics.swapChain.Reset();
  graphics.context.Reset();
  graphics.device.Reset();
}

void createBackBufferView(Graphics& graphics) {
  if (graphics.device == nullptr || graphics.swapChain == nullptr) return;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> backBuffer;
  if (FAILED(graphics.swapChain->GetBuffer(0, IID_PPV_ARGS(&backBuffer))) || backBuffer == nullptr) return;
  if (FAILED(graphics.device->CreateRenderTargetView(backBuffer.Get(), nullptr, &graphics.mainRenderTargetView))) {
    graphics.mainRenderTargetView.Reset();
  }
}

void releaseBackBufferView(Graphics& graphics) { graphics.mainRenderTargetView.Reset(); }

HRESULT applyPendingResize(Graphics& graphics) {
  if (graphics.pendingResizeWidth == 0 || graphics.pendingResizeHeight == 0) return S_OK;
  releaseBackBufferView(graphics);
  HRESULT hr = S_OK;
  if (graphics.swapChain != nullptr) {
    hr = graphics.swapChain->ResizeBuffers(0, graphics.pendingResizeWidth, graphics.pendingResizeHeight,
                                           DXGI_FORMAT_UNKNOWN, 0);
  }
  graphics.pendingResizeWidth = 0;
  graphics.pendingResizeHeight = 0;
  createBackBufferView(graphics);
  return hr;
}

bool deviceLost(HRESULT hr) {
  return hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET || hr == DXGI_ERROR_DEVICE_HUNG ||
         hr == DXGI_ERROR_DRIVER_INTERNAL_ERROR;
}

bool recreateGraphics(HWND window, Graphics& graphics, const char* what, HRESULT hr,
                      const CreateDeviceFunction& createDevice) {
  const bool newLoss = graphics.device != nullptr;
  const HRESULT reason = newLoss ? graphics.device->GetDeviceRemovedReason() : S_OK;
  if (graphics.context != nullptr) {
    // Nothing bound may keep the old swap chain alive: the window takes one flip-model chain only.
    graphics.context->ClearState();
    graphics.context->Flush();
  }
  releaseGraphics(graphics);
  // A resize that came while the device was gone is the new swap chain's size already.
  graphics.pendingResizeWidth = 0;
  graphics.pendingResizeHeight = 0;
  const bool made = createGraphics(window, graphics, createDevice);
  if (made) createBackBufferView(graphics);
  if (newLoss) {
    logLine("[Graphics] %s failed with 0x%08lX: the display device was lost (reason 0x%08lX); %s\n", what,
            static_cast<unsigned long>(hr), static_cast<unsigned long>(reason),
            made ? "made everything again on a new one" : "no new device yet, trying again");
  }
  return made;
}

}  // namespace app
