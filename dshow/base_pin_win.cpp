#include "dshow/base_pin_win.h"

#include <new>

#include "dshow/base_filter_win.h"
#include "dshow/enum_media_types_win.h"

namespace dshow {

namespace {

// A peer's enumerator could go on for ever; no real pin offers anywhere near this many.
constexpr int kMaxTypesPerEnumerator = 1024;

bool isForgettable(HRESULT hr) { return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED; }

}  // namespace

CBasePin::CBasePin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*, const wchar_t* pinName,
                   PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr), direction_(direction), lock_(lock), filter_(filter) {
  if (pinName) {
    for (int i = 0; i + 1 < MAX_PIN_NAME && pinName[i]; ++i) name_[i] = pinName[i];
  }
}

CBasePin::~CBasePin() = default;

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingAddRef() { return static_cast<IBaseFilter*>(filter_)->AddRef(); }

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingRelease() { return static_cast<IBaseFilter*>(filter_)->Release(); }

LONG CBasePin::GetMediaTypeVersion() { return typeVersion_; }

HRESULT CBasePin::Active() { return S_OK; }

HRESULT CBasePin::Inactive() { return S_OK; }

HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

HRESULT CBasePin::SetMediaType(const CMediaType* type) { return mt_.Set(*type); }

HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION peerDirection;
  HRESULT hr = pin->QueryDirection(&peerDirection);
  if (FAILED(hr)) return hr;
  return peerDirection == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* type) {
  HRESULT hr = CheckConnect(receivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(type);
  if (hr != S_OK) {
    // CheckConnect may have taken hold of the peer; undo it before the next attempt.
    BreakConnect();
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) return VFW_E_TYPE_NOT_ACCEPTED;
    return hr;
  }
  connected_ = receivePin;
  hr = SetMediaType(type);
  if (SUCCEEDED(hr)) {
    hr = receivePin->ReceiveConnection(static_cast<IPin*>(this), type);
    if (SUCCEEDED(hr)) {
      hr = CompleteConnect(receivePin);
      if (SUCCEEDED(hr)) return hr;
      receivePin->Disconnect();
    }
  }
  BreakConnect();
  connected_.Reset();
  mt_.Set(CMediaType());
  return hr;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* filter, IEnumMediaTypes* types) {
  HRESULT remembered = S_OK;
  for (int tried = 0; tried < kMaxTypesPerEnumerator; ++tried) {
    AM_MEDIA_TYPE* candidate = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &candidate, &fetched) != S_OK || fetched != 1 || !candidate) {
      if (candidate) DeleteMediaType(candidate);
      break;
    }
    HRESULT hr = VFW_E_TYPE_NOT_ACCEPTED;
    if (!filter || filter->MatchesPartial(*candidate)) {
      CMediaType type;
      hr = type.Set(*candidate);
      if (SUCCEEDED(hr)) hr = AttemptConnection(receivePin, &type);
    }
    DeleteMediaType(candidate);
    if (SUCCEEDED(hr)) return hr;
    if (!isForgettable(hr)) remembered = hr;
  }
  return FAILED(remembered) ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* type) {
  if (type && !type->IsPartiallySpecified()) return AttemptConnection(receivePin, type);

  HRESULT remembered = S_OK;
  for (int pass = 0; pass < 2; ++pass) {
    bool ours = (pass == 0) == typesFirst_;
    Microsoft::WRL::ComPtr<IEnumMediaTypes> types;
    HRESULT hr = ours ? EnumMediaTypes(&types) : receivePin->EnumMediaTypes(&types);
    if (FAILED(hr) || !types) continue;
    hr = TryMediaTypes(receivePin, type, types.Get());
    types.Reset();
    if (SUCCEEDED(hr)) return hr;
    if (hr != VFW_E_NO_ACCEPTABLE_TYPES && !isForgettable(hr)) remembered = hr;
  }
  return FAILED(remembered) ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (!receivePin) return E_POINTER;
  CAutoLock lock(lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (!filter_->IsStopped() && !canReconnectWhenActive_) return VFW_E_NOT_STOPPED;
  HRESULT hr;
  if (type) {
    CMediaType wanted;
    hr = wanted.Set(*type);
    if (SUCCEEDED(hr)) hr = AgreeMediaType(receivePin, &wanted);
  } else {
    hr = AgreeMediaType(receivePin, nullptr);
  }
  if (FAILED(hr)) BreakConnect();
  return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  CAutoLock lock(lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (!filter_->IsStopped() && !canReconnectWhenActive_) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  CMediaType offered;
  hr = offered.Set(*type);
  if (SUCCEEDED(hr)) {
    hr = CheckMediaType(&offered);
    if (hr != S_OK && (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG)) hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (hr != S_OK) {
    BreakConnect();
    return hr;
  }
  connected_ = connector;
  hr = SetMediaType(&offered);
  if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    connected_.Reset();
    mt_.Set(CMediaType());
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
  CAutoLock lock(lock_);
  if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
  if (!connected_) return S_FALSE;
  HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;  // still connected: nothing was torn down
  connected_.Reset();
  mt_.Set(CMediaType());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  CAutoLock lock(lock_);
  *pin = connected_.Get();
  if (!connected_) return VFW_E_NOT_CONNECTED;
  connected_->AddRef();  // the caller's reference
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CAutoLock lock(lock_);
  if (!connected_) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, &mt_);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter_;
  static_cast<IBaseFilter*>(filter_)->AddRef();
  for (int i = 0; i < MAX_PIN_NAME; ++i) {
    info->achName[i] = name_[i];
    if (!name_[i]) break;
  }
  info->achName[MAX_PIN_NAME - 1] = 0;
  info->dir = direction_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  size_t length = 0;
  while (name_[length]) ++length;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
  if (!*id) return E_OUTOFMEMORY;
  for (size_t i = 0; i <= length; ++i) (*id)[i] = name_[i];
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CMediaType offered;
  if (FAILED(offered.Set(*type))) return S_FALSE;
  HRESULT hr = CheckMediaType(&offered);
  return FAILED(hr) ? S_FALSE : hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  return *types ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segmentStart_ = start;
  segmentStop_ = stop;
  segmentRate_ = rate;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* sink) {
  CAutoLock lock(lock_);
  qualitySink_ = sink;
  return S_OK;
}

}  // namespace dshow
