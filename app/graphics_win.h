// The entry's Direct3D 11 objects: the device, its immediate context, the flip-model swap chain
// of the main window and the view of its back buffer, plus the client size of the last resize
// not yet applied. UI thread only.
#pragma once

#include <d3d11.h>
#include <dxgi.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>

namespace app {

struct Graphics {
  Microsoft::WRL::ComPtr<ID3D11Device> device;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
  Microsoft::WRL::ComPtr<IDXGISwapChain> swapChain;
  Microsoft::WRL::ComPtr<ID3D11RenderTargetView> mainRenderTargetView;  // back buffer 0; remade on every resize
  // From the last WM_SIZE; 0 means none pending. Written by the window procedure, applied and
  // cleared by the frame loop.
  std::uint32_t pendingResizeWidth = 0;
  std::uint32_t pendingResizeHeight = 0;
  // The window's DPI from the last WM_DPICHANGED whose fonts and style the frame loop has not yet
  // made again; 0 means none.
  std::uint32_t pendingDpi = 0;
};

// Same parameters and result as D3D11CreateDeviceAndSwapChain, which is what an empty one means.
using CreateDeviceFunction = std::function<HRESULT(
    IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType, HMODULE software, UINT flags,
    const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount, UINT sdkVersion,
    const DXGI_SWAP_CHAIN_DESC* swapChainDesc, IDXGISwapChain** swapChain, ID3D11Device** device,
    D3D_FEATURE_LEVEL* featureLevel, ID3D11DeviceContext** context)>;

// Creates the device and the swap chain for `window` on the hardware driver, or on WARP when the
// hardware one reports DXGI_ERROR_UNSUPPORTED. False, with everything released, on failure.
bool createGraphics(HWND window, Graphics& graphics, const CreateDeviceFunction& createDevice = {});
// Releases whichever of the four objects exist; each pointer becomes null.
void releaseGraphics(Graphics& graphics);

// View of back buffer 0; it stays null when the buffer or the view cannot be had.
void createBackBufferView(Graphics& graphics);
void releaseBackBufferView(Graphics& graphics);

// The frame loop's resize step: when both pending sizes are non-zero, resizes the existing
// buffers to them, clears them and remakes the back-buffer view. ResizeBuffers' result, S_OK
// when nothing was pending.
HRESULT applyPendingResize(Graphics& graphics);

// Whether a Direct3D or DXGI result says the device is gone (a driver reset or update, a removed
// GPU, a remote-desktop switch): everything made on it must be made again on a new one.
bool deviceLost(HRESULT hr);

// After `what` failed with `hr` because the device was lost: releases the old objects, makes the
// device, the swap chain and the back buffer's view again, and logs one line with the old
// device's removal reason. A later call while there is no device yet tries again silently.
// False while no new device can be made.
bool recreateGraphics(HWND window, Graphics& graphics, const char* what, HRESULT hr,
                      const CreateDeviceFunction& createDevice = {});

}  // namespace app
