#include "dshow/base_filter_win.h"

#include <cwchar>
#include <new>

#include "dshow/base_pin_win.h"
#include "dshow/enum_pins_win.h"

namespace dshow {

namespace {

// Copies at most size - 1 characters and always terminates.
void copyName(WCHAR* target, size_t size, const WCHAR* source) {
  size_t n = 0;
  if (source) {
    for (; n + 1 < size && source[n]; ++n) target[n] = source[n];
  }
  target[n] = 0;
}

}  // namespace

CBaseFilter::CBaseFilter(const wchar_t* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(objectName, outer), clsid_(clsid), lock_(lock) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
    return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  }
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::StreamTime(CRefTime& time) {
  CAutoLock lock(lock_);
  if (!clock_) return VFW_E_NO_CLOCK;
  REFERENCE_TIME now = 0;
  HRESULT hr = clock_->GetTime(&now);
  if (FAILED(hr)) return hr;
  time = now - start_.time_;
  return S_OK;
}

LONG CBaseFilter::GetPinVersion() { return pinVersion_; }

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
  CAutoLock lock(lock_);
  HRESULT result = S_OK;
  if (state_ != State_Stopped) {
    int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Inactive();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  state_ = State_Stopped;
  return result;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
  CAutoLock lock(lock_);
  if (state_ == State_Stopped) {
    int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Active();
      if (FAILED(hr)) {
        // The filter stays stopped, so the pins already started must stop again: a later
        // Stop on a stopped filter would not reach them.
        for (int j = 0; j < i; ++j) {
          CBasePin* started = GetPin(j);
          if (started && started->IsConnected()) started->Inactive();
        }
        return hr;
      }
    }
  }
  state_ = State_Paused;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock lock(lock_);
  start_ = start;
  if (state_ == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (state_ != State_Running) {
    int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Run(start);
      if (FAILED(hr)) return hr;
    }
  }
  state_ = State_Running;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock lock(lock_);
  clock_ = clock;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CAutoLock lock(lock_);
  *clock = clock_.Get();
  if (clock_) clock_->AddRef();  // the caller's reference
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = new (std::nothrow) CEnumPins(this, nullptr);
  return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  CAutoLock lock(lock_);
  int count = GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* candidate = GetPin(i);
    if (!candidate) continue;
    LPWSTR candidateId = nullptr;
    if (FAILED(candidate->QueryId(&candidateId))) continue;
    bool match = std::wcscmp(candidateId, id) == 0;
    CoTaskMemFree(candidateId);
    if (match) {
      *pin = candidate;
      candidate->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CAutoLock lock(lock_);
  copyName(info->achName, MAX_FILTER_NAME, name_);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(lock_);
  graph_ = graph;
  sink_ = nullptr;
  if (graph) {
    Microsoft::WRL::ComPtr<IMediaEventSink> sink;
    if (SUCCEEDED(graph->QueryInterface(IID_PPV_ARGS(&sink))) && sink) {
      // The graph outlives its membership; holding a reference would make a cycle.
      sink_ = sink.Get();
    }
  }
  copyName(name_, MAX_FILTER_NAME, name);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = sink_.load();
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, param1, param2);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Register() { return registerFilter(true); }

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister() { return registerFilter(false); }

HRESULT CBaseFilter::registerFilter(bool doRegister) {
  const AMOVIESETUP_FILTER* setup = GetSetupData();
  if (!setup) return S_FALSE;
  Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
  if (FAILED(hr)) return hr;
  hr = mapper->UnregisterFilter(nullptr, nullptr, *setup->clsID);
  // An entry that was never there is already as unregistered as it can be.
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) hr = S_OK;
  if (SUCCEEDED(hr) && doRegister) {
    REGFILTER2 record = {};
    record.dwVersion = 1;
    record.dwMerit = setup->dwMerit;
    record.cPins = setup->nPins;
    record.rgPins = setup->lpPin;
    hr = mapper->RegisterFilter(*setup->clsID, setup->strName, nullptr, nullptr, nullptr, &record);
  }
  return hr;
}

}  // namespace dshow
