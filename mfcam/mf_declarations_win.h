// Media Foundation declarations that MinGW-w64's headers lack, written from Microsoft's
// documentation of the Windows SDK headers (mfidl.h, mfvirtualcamera.h: interface and attribute
// identifiers as the SDK defines them). Where the toolchain has mfvirtualcamera.h, it is used.
#pragma once

#include <windows.h>

#include <devpropdef.h>
#include <mfidl.h>
#include <mfobjects.h>

// ---------------------------------------------------------------------------------------------
// Media source
// ---------------------------------------------------------------------------------------------

// IMFMediaStream2: a stream whose state can be read and set on its own (MF_STREAM_STATE is in
// mfobjects.h).
MIDL_INTERFACE("C5BC37D6-75C7-46A1-A132-81B5F723C20F")
IMFMediaStream2 : public IMFMediaStream {
 public:
  virtual HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE * value) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IMFMediaStream2, 0xc5bc37d6, 0x75c7, 0x46a1, 0xa1, 0x32, 0x81, 0xb5, 0xf7, 0x23, 0xc2, 0x0f)
#endif

namespace mfcam {

inline constexpr IID kIidMediaStream2 = {0xc5bc37d6, 0x75c7, 0x46a1, {0xa1, 0x32, 0x81, 0xb5, 0xf7, 0x23, 0xc2, 0x0f}};
// MF_DEVICESTREAM_STREAM_CATEGORY (GUID): the kernel streaming pin category of the stream.
inline constexpr GUID kDeviceStreamCategory = {
    0x2939e7b8, 0xa62e, 0x4579, {0xb6, 0x74, 0xd4, 0x07, 0x3d, 0xfa, 0xbb, 0xba}};
// MF_DEVICESTREAM_STREAM_ID (UINT32): the stream's identifier on the device.
inline constexpr GUID kDeviceStreamId = {0x11bd5120, 0xd124, 0x446b, {0x88, 0xe6, 0x17, 0x06, 0x02, 0x57, 0xff, 0xf9}};
// MF_DEVICESTREAM_FRAMESERVER_SHARED (UINT32): nonzero lets the Frame Server share the stream
// between applications.
inline constexpr GUID kDeviceStreamFrameServerShared = {
    0x1cb378e9, 0xb279, 0x41d4, {0xaf, 0x97, 0x34, 0xa2, 0x43, 0xe6, 0x83, 0x20}};
// MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES (UINT32): MFFrameSourceTypes flags.
inline constexpr GUID kDeviceStreamFrameSourceTypes = {
    0x17145fd1, 0x1b2b, 0x423c, {0x80, 0x01, 0x2b, 0x68, 0x33, 0xed, 0x35, 0x88}};
// MFFrameSourceTypes_Color.
inline constexpr UINT32 kFrameSourceTypeColor = 0x0001;

}  // namespace mfcam

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
