// The virtual camera: a capture source filter with one output pin, "Capture"
// (VirtualCameraStream), that delivers the control program's pictures to capture applications.
#pragma once

#include "vcam/source.h"

namespace vcam {

// {9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}
inline constexpr CLSID kVirtualCameraClsid = {0x9a8e4b2f, 0x2d7c, 0x4e47, {0x8e, 0x5e, 0x7f, 0x4c, 0x1a, 0x2b, 0x3c, 0x4d}};

class VirtualCameraFilter : public CSource {
 public:
  // A new filter with its pin, or null (E_OUTOFMEMORY in `result`) when the filter cannot be
  // allocated. When its pin cannot be made the filter comes back with a failure in `result`,
  // for the caller to delete.
  static CUnknown* WINAPI CreateInstance(IUnknown* outer, HRESULT* result);

  // The framework deletes the pin with the filter.
  ~VirtualCameraFilter() override;

  // A running camera that pauses stops delivering until it runs again.
  HRESULT STDMETHODCALLTYPE Pause() override;

 private:
  explicit VirtualCameraFilter(IUnknown* outer);
};

}  // namespace vcam
