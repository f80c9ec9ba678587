#include "dshow/source_stream_win.h"

#include <cwchar>

#include "dshow/source_win.h"

namespace dshow {

CSourceStream::CSourceStream(const wchar_t* objectName, HRESULT* result, CSource* parent, const wchar_t* pinName)
    : CBaseOutputPin(objectName, parent, parent->pStateLock(), result, pinName), parent_(parent) {
  HRESULT hr = parent->AddPin(this);
  if (result) *result = hr;
}

CSourceStream::~CSourceStream() { parent_->RemovePin(this); }

HRESULT STDMETHODCALLTYPE CSourceStream::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = nullptr;
  int index = parent_->FindPinNumber(static_cast<IPin*>(this));
  if (index < 0) return VFW_E_NOT_FOUND;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(12 * sizeof(WCHAR)));
  if (!*id) return E_OUTOFMEMORY;
  std::swprintf(*id, 12, L"%d", index + 1);
  return S_OK;
}

HRESULT CSourceStream::GetMediaType(CMediaType*) { return E_UNEXPECTED; }

HRESULT CSourceStream::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return GetMediaType(type);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* type) {
  CMediaType ours;
  if (FAILED(GetMediaType(&ours))) return E_FAIL;
  return ours == *type ? S_OK : E_FAIL;
}

HRESULT CSourceStream::Active() {
  CAutoLock lock(parent_->pStateLock());
  if (parent_->IsActive()) return S_FALSE;
  if (!IsConnected()) return S_OK;
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  if (!Create()) {
    CBaseOutputPin::Inactive();
    return E_FAIL;
  }
  hr = static_cast<HRESULT>(CallWorker(CMD_INIT));
  if (FAILED(hr)) {
    // The worker has ended after its failed start; join it and undo the commit so that the
    // next Pause can start afresh.
    Close();
    CBaseOutputPin::Inactive();
    return hr;
  }
  return static_cast<HRESULT>(CallWorker(CMD_PAUSE));
}

HRESULT CSourceStream::Inactive() {
  CAutoLock lock(parent_->pStateLock());
  if (!IsConnected()) return S_OK;
  HRESULT result = CBaseOutputPin::Inactive();
  // Whatever failed, the worker ends here: the filter counts as stopped afterwards, and may be
  // destroyed with its pins. A worker that has already ended fails the calls and is joined.
  if (ThreadExists()) {
    HRESULT hr = static_cast<HRESULT>(CallWorker(CMD_STOP));
    if (SUCCEEDED(result)) result = hr;
    hr = static_cast<HRESULT>(CallWorker(CMD_EXIT));
    if (SUCCEEDED(result)) result = hr;
    Close();
  }
  return FAILED(result) ? result : S_OK;
}

DWORD CSourceStream::ThreadProc() {
  DWORD command;
  for (;;) {
    command = GetRequest();
    if (command == CMD_INIT) break;
    Reply(static_cast<DWORD>(E_UNEXPECTED));
  }
  HRESULT hr = OnThreadCreate();
  if (FAILED(hr)) {
    OnThreadDestroy();
    Reply(static_cast<DWORD>(hr));
    return 1;
  }
  Reply(S_OK);

  for (;;) {
    command = GetRequest();
    if (command == CMD_EXIT) {
      Reply(S_OK);
      break;
    }
    if (command == CMD_PAUSE || command == CMD_RUN) {
      Reply(S_OK);
      DoBufferProcessingLoop();
    } else if (command == CMD_STOP) {
      Reply(S_OK);
    } else {
      Reply(static_cast<DWORD>(E_NOTIMPL));
    }
  }
  return FAILED(OnThreadDestroy()) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
  OnThreadStartPlay();
  for (;;) {
    DWORD command;
    while (!CheckRequest(&command)) {
      Microsoft::WRL::ComPtr<IMediaSample> sample;
      HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
      if (FAILED(hr) || !sample) {
        // Decommitted or starved: look again for a pending request shortly.
        Sleep(1);
        continue;
      }
      hr = FillBuffer(sample.Get());
      if (hr == S_OK) {
        hr = Deliver(sample.Get());
        sample.Reset();
        if (hr != S_OK) return S_OK;
      } else if (hr == S_FALSE) {
        sample.Reset();
        DeliverEndOfStream();
        return S_OK;
      } else {
        sample.Reset();
        DeliverEndOfStream();
        parent_->NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
      }
    }
    if (command == CMD_RUN || command == CMD_PAUSE) {
      Reply(S_OK);
    } else if (command == CMD_STOP) {
      return S_FALSE;
    } else {
      Reply(static_cast<DWORD>(E_UNEXPECTED));
    }
  }
}

}  // namespace dshow
