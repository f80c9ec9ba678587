#include "fake_transform_win.h"

#include <cstring>

namespace decodertest {

FakeTransform::FakeTransform(const FakeTransformScript& s) : script(s) { MFCreateAttributes(&attributes, 1); }

FakeTransform::~FakeTransform() {
  if (current_) current_->Release();
  if (attributes) attributes->Release();
}

STDMETHODIMP FakeTransform::QueryInterface(REFIID riid, void** out) {
  if (riid == IID_IUnknown || riid == IID_IMFTransform) {
    *out = static_cast<IMFTransform*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeTransform::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

STDMETHODIMP FakeTransform::GetStreamCount(DWORD* in, DWORD* out) {
  *in = 1;
  *out = 1;
  return S_OK;
}

STDMETHODIMP FakeTransform::GetOutputStreamInfo(DWORD, MFT_OUTPUT_STREAM_INFO* info) {
  info->dwFlags = script.providesSamples ? MFT_OUTPUT_STREAM_PROVIDES_SAMPLES : 0;
  info->cbSize = script.cbSize;
  info->cbAlignment = 0;
  return S_OK;
}

STDMETHODIMP FakeTransform::GetAttributes(IMFAttributes** out) {
  if (attributes == nullptr) return E_NOTIMPL;
  attributes->AddRef();
  *out = attributes;
  return S_OK;
}

STDMETHODIMP FakeTransform::GetOutputAvailableType(DWORD, DWORD index, IMFMediaType** out) {
  if (index >= script.outputSubtypes.size()) return MF_E_NO_MORE_TYPES;
  IMFMediaType* type = nullptr;
  MFCreateMediaType(&type);
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, script.outputSubtypes[index]);
  type->SetUINT64(MF_MT_FRAME_SIZE, (UINT64(script.codedWidth) << 32) | script.codedHeight);
  if (script.apertureWidth != 0) {
    MFVideoArea area = {};
    area.Area.cx = LONG(script.apertureWidth);
    area.Area.cy = LONG(script.apertureHeight);
    type->SetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area), sizeof(area));
  }
  if (script.defaultStride != 0) type->SetUINT32(MF_MT_DEFAULT_STRIDE, script.defaultStride);
  *out = type;
  return S_OK;
}

STDMETHODIMP FakeTransform::SetOutputType(DWORD, IMFMediaType* type, DWORD) {
  GUID subtype = GUID_NULL;
  type->GetGUID(MF_MT_SUBTYPE, &subtype);
  setOutputSubtypes.push_back(subtype);
  if (script.failSetOutputType > 0) {
    --script.failSetOutputType;
    return E_FAIL;
  }
  if (current_) current_->Release();
  current_ = type;
  current_->AddRef();
  return S_OK;
}

STDMETHODIMP FakeTransform::GetOutputCurrentType(DWORD, IMFMediaType** out) {
  if (current_ == nullptr) return MF_E_TRANSFORM_TYPE_NOT_SET;
  current_->AddRef();
  *out = current_;
  return S_OK;
}

STDMETHODIMP FakeTransform::ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) {
  messages.push_back(message);
  if (message == MFT_MESSAGE_NOTIFY_END_STREAMING) pending_.clear();  // as a new transform would start
  return S_OK;
}

STDMETHODIMP FakeTransform::ProcessInput(DWORD, IMFSample* sample, DWORD) {
  ++processInputCalls;
  if (script.refuseInputs > 0) {
    --script.refuseInputs;
    return MF_E_NOTACCEPTING;
  }
  LONGLONG time = 0;
  sample->GetSampleTime(&time);
  acceptedTimes.push_back(std::uint64_t(time));
  pending_.push_back(time);
  return S_OK;
}

std::vector<std::uint8_t> FakeTransform::pictureBytes() const {
  const std::uint32_t stride = script.bufferStride != 0 ? script.bufferStride : script.codedWidth;
  const std::uint32_t rows = script.codedHeight;
  std::vector<std::uint8_t> bytes(std::size_t(stride) * (rows + rows / 2));
  for (std::uint32_t r = 0; r < rows + rows / 2; ++r) {
    std::uint8_t v = r < rows ? std::uint8_t(r & 0x7F) : std::uint8_t(0x80 | ((r - rows) & 0x7F));
    std::memset(bytes.data() + std::size_t(r) * stride, v, stride);
  }
  bytes.resize(bytes.size() - script.shortBy);
  return bytes;
}

STDMETHODIMP FakeTransform::ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers, DWORD* status) {
  ++processOutputCalls;
  *status = 0;
  if (count != 1) return E_INVALIDARG;
  if (pending_.size() <= script.latency) return MF_E_TRANSFORM_NEED_MORE_INPUT;
  if (script.failOutputs > 0) {
    --script.failOutputs;
    return E_FAIL;
  }
  if (script.streamChangeForever || (script.streamChangeFirst && !changed_)) {
    changed_ = true;
    return MF_E_TRANSFORM_STREAM_CHANGE;
  }
  if (current_ == nullptr) return MF_E_TRANSFORM_TYPE_NOT_SET;

  std::vector<std::uint8_t> bytes = pictureBytes();
  IMFSample* sample = buffers[0].pSample;
  if (script.providesSamples) {
    if (sample != nullptr) return E_INVALIDARG;  // the caller must leave it to us
    MFCreateSample(&sample);
    IMFMediaBuffer* buffer = nullptr;
    MFCreateMemoryBuffer(DWORD(bytes.size()), &buffer);
    sample->AddBuffer(buffer);
    buffer->Release();
    buffers[0].pSample = sample;
  } else if (sample == nullptr) {
    return E_INVALIDARG;
  }
  IMFMediaBuffer* buffer = nullptr;
  sample->GetBufferByIndex(0, &buffer);
  BYTE* data = nullptr;
  DWORD capacity = 0;
  buffer->Lock(&data, &capacity, nullptr);
  if (capacity < bytes.size()) {
    buffer->Unlock();
    buffer->Release();
    return MF_E_BUFFERTOOSMALL;
  }
  std::memcpy(data, bytes.data(), bytes.size());
  buffer->Unlock();
  buffer->SetCurrentLength(DWORD(bytes.size()));
  buffer->Release();
  sample->SetSampleTime(pending_.front());
  pending_.pop_front();
  return S_OK;
}

}  // namespace decodertest
