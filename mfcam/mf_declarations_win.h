// Media Foundation declarations that MinGW-w64's headers lack, written from Microsoft's
// documentation of the Windows SDK headers. Where the toolchain has the SDK header itself, that
// header is used instead.
#pragma once

#include <windows.h>

#include <devpropdef.h>
#include <mfidl.h>
#include <mfobjects.h>

// ---------------------------------------------------------------------------------------------
// Virtual camera (mfvirtualcamera.h, Windows 11 build 22000; exported by mfsensorgroup.dll)

#if __has_include(<mfvirtualcamera.h>)
#include <mfvirtualcamera.h>
#else

// MIDL numbers these enumerations from 0, in the documented order.
typedef enum MFVirtualCameraType {
  MFVirtualCameraType_SoftwareCameraSource = 0,
} MFVirtualCameraType;

typedef enum MFVirtualCameraLifetime {
  MFVirtualCameraLifetime_Session = 0,
  MFVirtualCameraLifetime_System = 1,
} MFVirtualCameraLifetime;

typedef enum MFVirtualCameraAccess {
  MFVirtualCameraAccess_CurrentUser = 0,
  MFVirtualCameraAccess_AllUsers = 1,
} MFVirtualCameraAccess;

struct IMFCameraSyncObject;  // only passed through here

// The methods in the SDK header's order, after IMFAttributes' 30 (slots 33 to 43).
MIDL_INTERFACE("1C08A864-EF6C-4C75-AF59-5F2D68DA9563")
IMFVirtualCamera : public IMFAttributes {
 public:
  virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR deviceSourceInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddProperty(const DEVPROPKEY* key, DEVPROPTYPE type, const BYTE* data,
                                                ULONG dataSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR entryName, LPCWSTR subkeyPath, DWORD regType,
                                                     const BYTE* data, ULONG dataSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback* callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** mediaSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(REFGUID propertySet, ULONG propertyId, ULONG propertyFlags,
                                                       void* propertyPayload, ULONG propertyPayloadLength,
                                                       void* data, ULONG dataLength, ULONG* dataWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID kseventSet, ULONG kseventId, ULONG kseventFlags,
                                                    HANDLE eventHandle, IMFCameraSyncObject** cameraSyncObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(REFGUID kseventSet, ULONG kseventId, ULONG kseventFlags,
                                                        HANDLE semaphoreHandle, LONG semaphoreAdjustment,
                                                        IMFCameraSyncObject** cameraSyncObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IMFVirtualCamera, 0x1c08a864, 0xef6c, 0x4c75, 0xaf, 0x59, 0x5f, 0x2d, 0x68, 0xda, 0x95, 0x63)
#endif

#endif  // __has_include(<mfvirtualcamera.h>)

// MFCreateVirtualCamera, looked up in mfsensorgroup.dll at run time (Windows 10 has none).
using MFCreateVirtualCameraFunction = HRESULT(STDAPICALLTYPE*)(MFVirtualCameraType type,
                                                               MFVirtualCameraLifetime lifetime,
                                                               MFVirtualCameraAccess access, LPCWSTR friendlyName,
                                                               LPCWSTR sourceId, const GUID* categories,
                                                               ULONG categoryCount, IMFVirtualCamera** virtualCamera);
