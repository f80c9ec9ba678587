// What the class factory hands out: an IMFActivate whose ActivateObject makes the media source
// (once; later calls give the same one until ShutdownObject or DetachObject). Its attributes
// are a store of its own, as the Frame Server sets its own into it.
#pragma once

#include <windows.h>

#include <mfidl.h>
#include <wrl/client.h>

#include <mutex>

#include "common/com_object_win.h"
#include "mfcam/module_lock.h"

namespace mfcam {

class MediaSource;

class SourceActivate final : public comobject::SingleInterfaceObject<IMFActivate, IID_IMFActivate, IID_IMFAttributes> {
 public:
  static HRESULT create(REFIID riid, void** ppv);

  HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE ShutdownObject() override;
  HRESULT STDMETHODCALLTYPE DetachObject() override;

  // IMFAttributes, passed to the store.
  HRESULT STDMETHODCALLTYPE GetItem(REFGUID key, PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override;
  HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* other, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) override;
  HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID key, UINT32* value) override;
  HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID key, UINT64* value) override;
  HRESULT STDMETHODCALLTYPE GetDouble(REFGUID key, double* value) override;
  HRESULT STDMETHODCALLTYPE GetGUID(REFGUID key, GUID* value) override;
  HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID key, UINT32* length) override;
  HRESULT STDMETHODCALLTYPE GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override;
  HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override;
  HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID key, UINT32* size) override;
  HRESULT STDMETHODCALLTYPE GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* blobSize) override;
  HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override;
  HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID key, REFIID riid, LPVOID* ppv) override;
  HRESULT STDMETHODCALLTYPE SetItem(REFGUID key, REFPROPVARIANT value) override;
  HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID key) override;
  HRESULT STDMETHODCALLTYPE DeleteAllItems() override;
  HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID key, UINT32 value) override;
  HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID key, UINT64 value) override;
  HRESULT STDMETHODCALLTYPE SetDouble(REFGUID key, double value) override;
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID key, REFGUID value) override;
  HRESULT STDMETHODCALLTYPE SetString(REFGUID key, LPCWSTR value) override;
  HRESULT STDMETHODCALLTYPE SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override;
  HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID key, IUnknown* value) override;
  HRESULT STDMETHODCALLTYPE LockStore() override;
  HRESULT STDMETHODCALLTYPE UnlockStore() override;
  HRESULT STDMETHODCALLTYPE GetCount(UINT32* count) override;
  HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* destination) override;

 private:
  SourceActivate() = default;
  ~SourceActivate() override = default;

  ModuleReference module_;
  Microsoft::WRL::ComPtr<IMFAttributes> store_;
  std::mutex lock_;
  Microsoft::WRL::ComPtr<IMFMediaSource> source_;
};

}  // namespace mfcam
