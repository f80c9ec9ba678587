// The virtual camera: a capture source filter with one output pin, "Capture"
// (VirtualCameraStream), that delivers the control program's pictures to capture applications.
// It is a live source: it says so through IAMFilterMiscFlags, delivers only while running, and
// answers VFW_S_CANT_CUE while paused so that nobody waits for a paused picture.
#pragma once

#include "dshow/source_win.h"

namespace vcam {

// {9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}
inline constexpr CLSID kVirtualCameraClsid = {0x9a8e4b2f, 0x2d7c, 0x4e47, {0x8e, 0x5e, 0x7f, 0x4c, 0x1a, 0x2b, 0x3c, 0x4d}};

class VirtualCameraFilter : public dshow::CSource, public IAMFilterMiscFlags {
 public:
  // A new filter with its pin, or null (E_OUTOFMEMORY in `result`) when the filter cannot be
  // allocated. When its pin cannot be made the filter comes back with a failure in `result`,
  // for the caller to delete.
  static dshow::CUnknown* WINAPI CreateInstance(IUnknown* outer, HRESULT* result);

  // The framework deletes the pin with the filter.
  ~VirtualCameraFilter() override;

  BRINDLE_DECLARE_IUNKNOWN

  // IAMFilterMiscFlags, then the framework's interfaces.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // A running camera that pauses stops delivering until it runs again.
  HRESULT STDMETHODCALLTYPE Pause() override;
  // VFW_S_CANT_CUE while paused: a live source has nothing to show before it runs.
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;

  // IAMFilterMiscFlags: a source.
  ULONG STDMETHODCALLTYPE GetMiscFlags() override;

 private:
  explicit VirtualCameraFilter(IUnknown* outer);
};

}  // namespace vcam
