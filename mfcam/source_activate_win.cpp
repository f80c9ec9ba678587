#include "mfcam/source_activate_win.h"

#include <mfapi.h>
#include <mferror.h>

#include <new>

#include "mfcam/media_source_win.h"

namespace mfcam {

HRESULT SourceActivate::create(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // Raw until handed out: MinGW-w64's ComPtr::Attach takes a reference of its own.
  SourceActivate* made = new (std::nothrow) SourceActivate;
  if (!made) return E_OUTOFMEMORY;
  HRESULT hr = MFCreateAttributes(&made->store_, 4);
  if (SUCCEEDED(hr)) hr = made->QueryInterface(riid, ppv);
  made->Release();
  return hr;
}

HRESULT STDMETHODCALLTYPE SourceActivate::ActivateObject(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  if (!source_) {
    Microsoft::WRL::ComPtr<MediaSource> made;
    HRESULT hr = MediaSource::create(sourceRingName(), &made);
    if (FAILED(hr)) return hr;
    source_ = static_cast<IMFMediaSourceEx*>(made.Get());
  }
  return source_->QueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE SourceActivate::ShutdownObject() {
  Microsoft::WRL::ComPtr<IMFMediaSource> source;
  {
    std::lock_guard<std::mutex> hold(lock_);
    source.Swap(source_);
  }
  // A source the caller already shut down answers MF_E_SHUTDOWN; that is no failure here.
  if (source) source->Shutdown();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceActivate::DetachObject() {
  std::lock_guard<std::mutex> hold(lock_);
  source_.Reset();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceActivate::GetItem(REFGUID key, PROPVARIANT* value) {
  return store_->GetItem(key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) {
  return store_->GetItemType(key, type);
}
HRESULT STDMETHODCALLTYPE SourceActivate::CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) {
  return store_->CompareItem(key, value, result);
}
HRESULT STDMETHODCALLTYPE SourceActivate::Compare(IMFAttributes* other, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) {
  return store_->Compare(other, type, result);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetUINT32(REFGUID key, UINT32* value) {
  return store_->GetUINT32(key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetUINT64(REFGUID key, UINT64* value) {
  return store_->GetUINT64(key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetDouble(REFGUID key, double* value) {
  return store_->GetDouble(key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetGUID(REFGUID key, GUID* value) { return store_->GetGUID(key, value); }
HRESULT STDMETHODCALLTYPE SourceActivate::GetStringLength(REFGUID key, UINT32* length) {
  return store_->GetStringLength(key, length);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) {
  return store_->GetString(key, value, size, length);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) {
  return store_->GetAllocatedString(key, value, length);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetBlobSize(REFGUID key, UINT32* size) {
  return store_->GetBlobSize(key, size);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* blobSize) {
  return store_->GetBlob(key, buffer, size, blobSize);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) {
  return store_->GetAllocatedBlob(key, buffer, size);
}
HRESULT STDMETHODCALLTYPE SourceActivate::GetUnknown(REFGUID key, REFIID riid, LPVOID* ppv) {
  return store_->GetUnknown(key, riid, ppv);
}
HRESULT STDMETHODCALLTYPE SourceActivate::SetItem(REFGUID key, REFPROPVARIANT value) {
  return store_->SetItem(key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::DeleteItem(REFGUID key) { return store_->DeleteItem(key); }
HRESULT STDMETHODCALLTYPE SourceActivate::DeleteAllItems() { return store_->DeleteAllItems(); }
HRESULT STDMETHODCALLTYPE SourceActivate::SetUINT32(REFGUID key, UINT32 value) { return store_->SetUINT32(key, value); }
HRESULT STDMETHODCALLTYPE SourceActivate::SetUINT64(REFGUID key, UINT64 value) { return store_->SetUINT64(key, value); }
HRESULT STDMETHODCALLTYPE SourceActivate::SetDouble(REFGUID key, double value) { return store_->SetDouble(key, value); }
HRESULT STDMETHODCALLTYPE SourceActivate::SetGUID(REFGUID key, REFGUID value) { return store_->SetGUID(key, value); }
HRESULT STDMETHODCALLTYPE SourceActivate::SetString(REFGUID key, LPCWSTR value) {
  return store_->SetString(key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) {
  return store_->SetBlob(key, buffer, size);
}
HRESULT STDMETHODCALLTYPE SourceActivate::SetUnknown(REFGUID key, IUnknown* value) {
  return store_->SetUnknown(key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::LockStore() { return store_->LockStore(); }
HRESULT STDMETHODCALLTYPE SourceActivate::UnlockStore() { return store_->UnlockStore(); }
HRESULT STDMETHODCALLTYPE SourceActivate::GetCount(UINT32* count) { return store_->GetCount(count); }
HRESULT STDMETHODCALLTYPE SourceActivate::GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) {
  return store_->GetItemByIndex(index, key, value);
}
HRESULT STDMETHODCALLTYPE SourceActivate::CopyAllItems(IMFAttributes* destination) {
  return store_->CopyAllItems(destination);
}

}  // namespace mfcam
