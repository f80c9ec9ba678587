#include "dshow/source_win.h"

#include <new>

#include "dshow/source_stream_win.h"

namespace dshow {

CSource::CSource(const wchar_t* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &stateLock_, clsid) {}

CSource::~CSource() {
  // Released without a Stop: the workers must end before their pins go. A pin's Inactive joins
  // its worker even when it fails, so none is left running here.
  if (!IsStopped()) Stop();
  while (pinCount_ > 0) delete streams_[pinCount_ - 1];
  delete[] streams_;
}

int CSource::GetPinCount() {
  CAutoLock lock(&stateLock_);
  return pinCount_;
}

CBasePin* CSource::GetPin(int index) {
  CAutoLock lock(&stateLock_);
  if (index < 0 || index >= pinCount_) return nullptr;
  return streams_[index];
}

HRESULT CSource::AddPin(CSourceStream* stream) {
  CAutoLock lock(&stateLock_);
  auto* grown = new (std::nothrow) CSourceStream*[pinCount_ + 1];
  if (!grown) return E_OUTOFMEMORY;
  for (int i = 0; i < pinCount_; ++i) grown[i] = streams_[i];
  grown[pinCount_] = stream;
  delete[] streams_;
  streams_ = grown;
  ++pinCount_;
  return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* stream) {
  CAutoLock lock(&stateLock_);
  for (int i = 0; i < pinCount_; ++i) {
    if (streams_[i] != stream) continue;
    for (int j = i + 1; j < pinCount_; ++j) streams_[j - 1] = streams_[j];
    --pinCount_;
    if (pinCount_ == 0) {
      delete[] streams_;
      streams_ = nullptr;
    }
    return S_OK;
  }
  return S_FALSE;
}

int CSource::FindPinNumber(IPin* pin) {
  CAutoLock lock(&stateLock_);
  for (int i = 0; i < pinCount_; ++i) {
    if (static_cast<IPin*>(streams_[i]) == pin) return i;
  }
  return -1;
}

HRESULT STDMETHODCALLTYPE CSource::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  // Only plain decimal digits, as QueryId produces; anything else names no pin.
  long number = 0;
  int digits = 0;
  for (const WCHAR* c = id; *c; ++c, ++digits) {
    if (*c < L'0' || *c > L'9' || digits >= 9) return VFW_E_NOT_FOUND;
    number = number * 10 + (*c - L'0');
  }
  if (digits == 0) return VFW_E_NOT_FOUND;
  CAutoLock lock(&stateLock_);
  if (number < 1 || number > pinCount_) return VFW_E_NOT_FOUND;
  CSourceStream* stream = streams_[number - 1];
  *pin = stream;
  stream->AddRef();
  return S_OK;
}

}  // namespace dshow
