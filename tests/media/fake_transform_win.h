// A small stand-in for a decoder transform, for the paths Wine's decoder never takes: a display
// aperture, types other than NV12 offered first, refused input, transform-provided samples,
// endless stream changes and short output buffers. Each input unit becomes one NV12 picture
// whose bytes tell row and plane apart: luma row r is (r & 0x7F), chroma row r is 0x80 | (r & 0x7F).
#pragma once

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

namespace decodertest {

struct FakeTransformScript {
  std::vector<GUID> outputSubtypes = {MFVideoFormat_NV12};  // offered in this order
  std::uint32_t codedWidth = 64, codedHeight = 48;
  std::uint32_t apertureWidth = 0, apertureHeight = 0;       // 0: no aperture attribute
  std::uint32_t defaultStride = 0;                           // 0: no stride attribute
  std::uint32_t bufferStride = 0;                            // the stride pictures really have; 0: codedWidth
  int failSetOutputType = 0;       // the first N SetOutputType calls fail with E_FAIL
  HRESULT setInputType = S_OK;
  int refuseInputs = 0;            // the next N ProcessInput calls answer MF_E_NOTACCEPTING
  bool streamChangeFirst = true;   // the first ProcessOutput with a picture waiting reports a stream change
  bool streamChangeForever = false;
  bool providesSamples = false;
  DWORD cbSize = 0;
  DWORD shortBy = 0;               // pictures come out this many bytes short
  std::size_t latency = 0;         // pictures held back until more than this many are waiting
  int failOutputs = 0;             // the next N ProcessOutput calls with a picture due fail with E_FAIL
};

class FakeTransform : public IMFTransform {
 public:
  explicit FakeTransform(const FakeTransformScript& script);
  virtual ~FakeTransform();

  FakeTransformScript script;
  // What the decoder did to it.
  std::vector<MFT_MESSAGE_TYPE> messages;
  std::vector<GUID> setOutputSubtypes;  // every SetOutputType call, failed ones included
  std::vector<std::uint64_t> acceptedTimes;  // 100-ns sample times of accepted inputs
  int processInputCalls = 0;
  int setInputTypeCalls = 0;
  int processOutputCalls = 0;
  IMFAttributes* attributes = nullptr;
  ULONG references() const { return refs_.load(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;

  // IMFTransform
  STDMETHODIMP GetStreamLimits(DWORD*, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamCount(DWORD* in, DWORD* out) override;
  STDMETHODIMP GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetInputStreamInfo(DWORD, MFT_INPUT_STREAM_INFO*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStreamInfo(DWORD id, MFT_OUTPUT_STREAM_INFO* info) override;
  STDMETHODIMP GetAttributes(IMFAttributes** out) override;
  STDMETHODIMP GetInputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteInputStream(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddInputStreams(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetInputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputAvailableType(DWORD id, DWORD index, IMFMediaType** out) override;
  STDMETHODIMP SetInputType(DWORD, IMFMediaType*, DWORD) override {
    ++setInputTypeCalls;
    return script.setInputType;
  }
  STDMETHODIMP SetOutputType(DWORD id, IMFMediaType* type, DWORD flags) override;
  STDMETHODIMP GetInputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputCurrentType(DWORD id, IMFMediaType** out) override;
  STDMETHODIMP GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStatus(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
  STDMETHODIMP ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }
  STDMETHODIMP ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override;
  STDMETHODIMP ProcessInput(DWORD id, IMFSample* sample, DWORD flags) override;
  STDMETHODIMP ProcessOutput(DWORD flags, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers, DWORD* status) override;

  // The bytes of one picture as this transform lays it out.
  std::vector<std::uint8_t> pictureBytes() const;

 private:
  std::atomic<ULONG> refs_{1};
  IMFMediaType* current_ = nullptr;
  std::deque<LONGLONG> pending_;  // sample times of pictures not yet taken
  bool changed_ = false;
};

}  // namespace decodertest
