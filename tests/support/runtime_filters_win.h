// The runtime's own filters that capture applications put behind a camera: qedit's Sample
// Grabber and Null Renderer, and the base of a Sample Grabber callback that its owner keeps
// alive for as long as the graph runs. Windows only.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

namespace testsupport {

inline constexpr CLSID kSampleGrabber = {0xC1F400A0, 0x3F08, 0x11d3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
inline constexpr CLSID kNullRenderer = {0xC1F400A4, 0x3F08, 0x11d3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// SampleCB is the derived class's; it runs on the thread that delivers the sample.
class SampleGrabberCallback : public ISampleGrabberCB {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_ISampleGrabberCB) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  // Not counted: the owner outlives the graph.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

 protected:
  ~SampleGrabberCallback() = default;
};

}  // namespace testsupport
