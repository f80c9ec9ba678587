// Media Foundation declarations that MinGW-w64's headers lack, written from Microsoft's
// documentation of mfidl.h (interface and attribute identifiers as the SDK defines them).
#pragma once

#include <windows.h>

#include <mfidl.h>

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
