// What a capture application sees of the camera before any sample flows: the pin, its eight
// formats and how it judges other types, IAMStreamConfig and the pin category.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_rig_win.h"
#include "vcam/virtual_camera_filter_win.h"
#include "vcam/virtual_camera_formats_win.h"
#include "vcam/virtual_camera_stream_win.h"

#include <dvdmedia.h>  // after the DirectShow headers it relies on

namespace vcam::cameratest {
namespace {

struct Row {
  LONG width, height;
  const GUID* subtype;
  WORD bits;
  DWORD fourcc;
  DWORD imageSize;
};
constexpr int kRowCount = 8;
const Row kRows[kRowCount] = {{1280, 720, &MEDIASUBTYPE_YUY2, 16, 0x32595559, 1280 * 720 * 2},
                              {720, 1280, &MEDIASUBTYPE_YUY2, 16, 0x32595559, 720 * 1280 * 2},
                              {1280, 720, &MEDIASUBTYPE_NV12, 12, 0x3231564E, 1280 * 720 * 3 / 2},
                              {720, 1280, &MEDIASUBTYPE_NV12, 12, 0x3231564E, 720 * 1280 * 3 / 2},
                              {1920, 1080, &MEDIASUBTYPE_YUY2, 16, 0x32595559, 1920 * 1080 * 2},
                              {1080, 1920, &MEDIASUBTYPE_YUY2, 16, 0x32595559, 1080 * 1920 * 2},
                              {1920, 1080, &MEDIASUBTYPE_NV12, 12, 0x3231564E, 1920 * 1080 * 3 / 2},
                              {1080, 1920, &MEDIASUBTYPE_NV12, 12, 0x3231564E, 1080 * 1920 * 3 / 2}};

void expectRow(const AM_MEDIA_TYPE& type, int index) {
  SCOPED_TRACE(testing::Message() << "row " << index);
  const Row& row = kRows[index];
  EXPECT_EQ(type.majortype, MEDIATYPE_Video);
  EXPECT_EQ(type.subtype, *row.subtype);
  EXPECT_EQ(type.formattype, FORMAT_VideoInfo);
  EXPECT_FALSE(type.bTemporalCompression);
  EXPECT_TRUE(type.bFixedSizeSamples);
  EXPECT_EQ(type.lSampleSize, row.imageSize);
  ASSERT_EQ(type.cbFormat, 88u);
  ASSERT_NE(type.pbFormat, nullptr);
  VIDEOINFOHEADER expected = {};
  expected.AvgTimePerFrame = 333333;  // 30 frames per second unless asked otherwise
  expected.bmiHeader = {40, row.width, row.height, 1, row.bits, row.fourcc, row.imageSize, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(type.pbFormat, &expected, 88)) << "rectangles, rates and other fields must be zero";
}

VirtualCameraStream* streamOf(CameraRig& rig) {
  auto* filter = dynamic_cast<dshow::CSource*>(static_cast<IBaseFilter*>(rig.camera.Get()));
  return filter ? dynamic_cast<VirtualCameraStream*>(filter->GetPin(0)) : nullptr;
}

// A type carrying a copy of `base` with some fields changed.
dshow::CMediaType variant(const dshow::CMediaType& base, const GUID& subtype, LONG width, LONG height) {
  dshow::CMediaType type(base);
  type.SetSubtype(&subtype);
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  return type;
}

// A readable block of `size` bytes that ends where an inaccessible page begins.
struct GuardedBlock {
  explicit GuardedBlock(DWORD size) {
    base = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base + 4096, 4096, PAGE_NOACCESS, &old);
    bytes = base + 4096 - size;
  }
  ~GuardedBlock() { VirtualFree(base, 0, MEM_RELEASE); }
  BYTE* base;
  BYTE* bytes;
};

class CameraFormatTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    rig_.emplace();
    stream_ = streamOf(*rig_);
    ASSERT_NE(stream_, nullptr);
    ASSERT_TRUE(rig_->config);
  }
  VirtualCameraStream* stream_ = nullptr;
};

TEST_F(CameraFormatTest, FilterAndPinIdentity) {
  CLSID clsid;
  ASSERT_EQ(rig_->camera->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, kVirtualCameraClsid);
  PIN_INFO info;
  ASSERT_EQ(rig_->pin->QueryPinInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Capture");
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  info.pFilter->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(rig_->pin->QueryId(&id), S_OK);
  EXPECT_STREQ(id, L"1");
  CoTaskMemFree(id);

  // Both added interfaces lead back to the pin, and their references are the filter's.
  ComPtr<IKsPropertySet> properties;
  ASSERT_EQ(rig_->pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(properties.ReleaseAndGetAddressOf())), S_OK);
  ComPtr<IPin> back;
  ASSERT_EQ(properties->QueryInterface(IID_IPin, reinterpret_cast<void**>(back.ReleaseAndGetAddressOf())), S_OK);
  EXPECT_EQ(back.Get(), rig_->pin.Get());
  ULONG before = rig_->camera->AddRef();
  properties->AddRef();
  EXPECT_EQ(rig_->camera->AddRef(), before + 2);
  properties->Release();
  rig_->camera->Release();
  rig_->camera->Release();
  ComPtr<IAMStreamConfig> config;
  EXPECT_EQ(properties->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.ReleaseAndGetAddressOf())), S_OK);
  ComPtr<IUnknown> none;
  EXPECT_EQ(rig_->pin->QueryInterface(IID_IAMVideoControl, reinterpret_cast<void**>(none.ReleaseAndGetAddressOf())), E_NOINTERFACE);

  // The graph learns from the filter itself that it is a source.
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(rig_->camera->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(flags.ReleaseAndGetAddressOf())), S_OK);
  EXPECT_EQ(flags->GetMiscFlags(), ULONG(AM_FILTER_MISC_FLAGS_IS_SOURCE));
  ComPtr<IBaseFilter> same;
  ASSERT_EQ(flags->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(same.ReleaseAndGetAddressOf())), S_OK);
  EXPECT_EQ(same.Get(), rig_->camera.Get());
}

TEST_F(CameraFormatTest, EveryMediaTypeByPositionAndThroughTheEnumerator) {
  for (int i = 0; i < kRowCount; i++) {
    dshow::CMediaType type;
    ASSERT_EQ(stream_->GetMediaType(i, &type), S_OK);
    expectRow(type, i);
  }
  dshow::CMediaType none;
  EXPECT_EQ(stream_->GetMediaType(kRowCount, &none), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(stream_->GetMediaType(-1, &none), E_INVALIDARG);

  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(rig_->pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
  AM_MEDIA_TYPE* got[kRowCount + 1] = {};
  ULONG fetched = 0;
  EXPECT_EQ(types->Next(kRowCount + 1, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, ULONG(kRowCount));
  for (int i = 0; i < kRowCount; i++) {
    expectRow(*got[i], i);
    dshow::DeleteMediaType(got[i]);
  }
}

TEST_F(CameraFormatTest, CheckMediaTypeAcceptsTheRowsOnly) {
  dshow::CMediaType yuy2;
  ASSERT_EQ(stream_->GetMediaType(0, &yuy2), S_OK);
  for (int i = 0; i < kRowCount; i++) {
    dshow::CMediaType row;
    stream_->GetMediaType(i, &row);
    EXPECT_EQ(stream_->CheckMediaType(&row), S_OK) << i;
  }
  // Top-down rows are the same size.
  dshow::CMediaType topDown = variant(yuy2, MEDIASUBTYPE_YUY2, 1280, -720);
  EXPECT_EQ(stream_->CheckMediaType(&topDown), S_OK);
  EXPECT_EQ(rig_->pin->QueryAccept(&topDown), S_OK);
  // Any frame interval from 60 down to 15 frames per second, or none; other fields are not
  // looked at.
  for (REFERENCE_TIME interval : {0, 166666, 333333, 666666}) {
    dshow::CMediaType otherRate(yuy2);
    reinterpret_cast<VIDEOINFOHEADER*>(otherRate.pbFormat)->AvgTimePerFrame = interval;
    EXPECT_EQ(stream_->CheckMediaType(&otherRate), S_OK) << interval;
  }

  dshow::CMediaType rgb = variant(yuy2, MEDIASUBTYPE_RGB24, 1280, 720);
  dshow::CMediaType big = variant(yuy2, MEDIASUBTYPE_YUY2, 1920, 1200);
  dshow::CMediaType swapped = variant(yuy2, MEDIASUBTYPE_NV12, 1080, 1080);
  dshow::CMediaType audio(yuy2);
  audio.SetType(&MEDIATYPE_Audio);
  dshow::CMediaType nv12Info2 = variant(yuy2, MEDIASUBTYPE_NV12, 1280, 720);
  VIDEOINFOHEADER2 info2 = {};
  info2.bmiHeader = reinterpret_cast<VIDEOINFOHEADER*>(yuy2.pbFormat)->bmiHeader;
  nv12Info2.SetFormatType(&FORMAT_VideoInfo2);
  ASSERT_TRUE(nv12Info2.SetFormat(reinterpret_cast<BYTE*>(&info2), sizeof(info2)));
  dshow::CMediaType tooFast(yuy2), tooSlow(yuy2);
  reinterpret_cast<VIDEOINFOHEADER*>(tooFast.pbFormat)->AvgTimePerFrame = 166665;
  reinterpret_cast<VIDEOINFOHEADER*>(tooSlow.pbFormat)->AvgTimePerFrame = 666667;
  for (const dshow::CMediaType* refused : {&rgb, &big, &swapped, &audio, &nv12Info2, &tooFast, &tooSlow}) {
    EXPECT_EQ(stream_->CheckMediaType(refused), E_INVALIDARG);
    EXPECT_EQ(rig_->pin->QueryAccept(refused), S_FALSE);
    EXPECT_EQ(rig_->config->SetFormat(const_cast<dshow::CMediaType*>(refused)), VFW_E_INVALIDMEDIATYPE);
  }
  EXPECT_EQ(stream_->CheckMediaType(nullptr), E_INVALIDARG);
}

TEST_F(CameraFormatTest, TypesWithoutAWholeFormatBlockAreRefusedUnread) {
  dshow::CMediaType good;
  ASSERT_EQ(stream_->GetMediaType(2, &good), S_OK);
  // A claimed 88-byte block that is not there, and a 40-byte block right before a guard page:
  // reading either as a VIDEOINFOHEADER would crash the test.
  AM_MEDIA_TYPE missing = good;
  missing.pbFormat = nullptr;
  GuardedBlock guard(40);
  std::memcpy(guard.bytes, good.pbFormat, 40);
  AM_MEDIA_TYPE shortBlock = good;
  shortBlock.cbFormat = 40;
  shortBlock.pbFormat = guard.bytes;
  for (AM_MEDIA_TYPE* bad : {&missing, &shortBlock}) {
    EXPECT_EQ(stream_->CheckMediaType(static_cast<dshow::CMediaType*>(bad)), E_INVALIDARG);
    EXPECT_EQ(rig_->pin->QueryAccept(bad), S_FALSE);
    EXPECT_EQ(stream_->SetMediaType(static_cast<dshow::CMediaType*>(bad)), E_INVALIDARG);
  }
  EXPECT_EQ(rig_->config->SetFormat(&shortBlock), VFW_E_INVALIDMEDIATYPE);
}

TEST_F(CameraFormatTest, StreamCapsForEachRowAndOutOfRange) {
  AM_MEDIA_TYPE* unset = nullptr;
  ASSERT_EQ(rig_->config->GetFormat(&unset), S_OK) << "before any SetFormat";
  expectRow(*unset, 0);
  dshow::DeleteMediaType(unset);
  int count = 0, size = 0;
  EXPECT_EQ(rig_->config->GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_EQ(count, kRowCount);
  EXPECT_EQ(size, 128);
  EXPECT_EQ(rig_->config->GetNumberOfCapabilities(nullptr, &size), S_OK);

  for (int i = 0; i < kRowCount; i++) {
    AM_MEDIA_TYPE* type = nullptr;
    BYTE buffer[129];
    std::memset(buffer, 0xCD, sizeof(buffer));
    // An odd address: the caller's buffer need not be aligned.
    ASSERT_EQ(rig_->config->GetStreamCaps(i, &type, buffer + 1), S_OK);
    expectRow(*type, i);
    dshow::DeleteMediaType(type);
    VIDEO_STREAM_CONFIG_CAPS caps;
    std::memcpy(&caps, buffer + 1, sizeof(caps));
    const SIZE rowSize = {kRows[i].width, kRows[i].height};
    VIDEO_STREAM_CONFIG_CAPS expected = {};
    expected.guid = FORMAT_VideoInfo;
    expected.InputSize = expected.MinCroppingSize = expected.MaxCroppingSize = rowSize;
    expected.MinOutputSize = expected.MaxOutputSize = rowSize;
    expected.CropGranularityX = expected.CropGranularityY = 1;
    expected.OutputGranularityX = expected.OutputGranularityY = 1;
    expected.MinFrameInterval = 166666;
    expected.MaxFrameInterval = 666666;
    EXPECT_EQ(0, std::memcmp(&caps, &expected, sizeof(caps))) << "row " << i;
  }
  AM_MEDIA_TYPE* type = nullptr;
  BYTE caps[128];
  EXPECT_EQ(rig_->config->GetStreamCaps(kRowCount, &type, caps), S_FALSE);
  EXPECT_EQ(rig_->config->GetStreamCaps(-1, &type, caps), S_FALSE);
  EXPECT_EQ(type, nullptr);
  EXPECT_EQ(rig_->config->GetStreamCaps(0, nullptr, caps), E_POINTER);
  EXPECT_EQ(rig_->config->GetStreamCaps(0, &type, nullptr), E_POINTER);
}

TEST_F(CameraFormatTest, ConnectionSetsTheOutputAndSetFormatReconnectsOnlyWhenStopped) {
  // Negotiated without a type: the first row, with buffers of one sample each.
  ASSERT_EQ(rig_->connect(nullptr), S_OK);
  dshow::CMediaType connected;
  ASSERT_EQ(rig_->pin->ConnectionMediaType(&connected), S_OK);
  expectRow(connected, 0);
  ASSERT_EQ(rig_->graph->Disconnect(rig_->pin.Get()), S_OK);
  ASSERT_EQ(rig_->graph->Disconnect(rig_->sink->pin()), S_OK);

  ASSERT_EQ(rig_->connectFormat(3), S_OK);  // 720x1280 NV12
  AM_MEDIA_TYPE* format = nullptr;
  ASSERT_EQ(rig_->config->GetFormat(&format), S_OK);
  expectRow(*format, 3);
  dshow::DeleteMediaType(format);

  // The allocator the camera chose holds two NV12 samples of 720x1280.
  auto expectBuffers = [&](LONG size) {
    ALLOCATOR_PROPERTIES props = {};
    ASSERT_TRUE(stream_->Allocator());
    ASSERT_EQ(stream_->Allocator()->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 2);
    EXPECT_EQ(props.cbBuffer, size);
  };
  expectBuffers(720 * 1280 * 3 / 2);
  EXPECT_EQ(rig_->config->GetFormat(nullptr), E_POINTER);
  EXPECT_EQ(rig_->config->SetFormat(nullptr), E_POINTER);

  // Stopped, another format reconnects the pin through the graph, and is then the only offer.
  dshow::CMediaType other, same;
  ASSERT_EQ(stream_->GetMediaType(0, &other), S_OK);
  ASSERT_EQ(stream_->GetMediaType(3, &same), S_OK);
  ASSERT_EQ(rig_->config->SetFormat(&other), S_OK);
  ASSERT_EQ(rig_->pin->ConnectionMediaType(&connected), S_OK);
  expectRow(connected, 0);
  dshow::CMediaType received;
  ASSERT_EQ(rig_->sink->pin()->ConnectionMediaType(&received), S_OK);
  expectRow(received, 0);
  expectBuffers(1280 * 720 * 2);
  dshow::CMediaType only;
  EXPECT_EQ(stream_->GetMediaType(1, &only), VFW_S_NO_MORE_ITEMS);

  // Paused or running, only the format already flowing is accepted.
  for (bool run : {false, true}) {
    ASSERT_HRESULT_SUCCEEDED(run ? rig_->control->Run() : rig_->control->Pause());
    EXPECT_EQ(rig_->config->SetFormat(&same), VFW_E_NOT_STOPPED) << run;
    EXPECT_EQ(rig_->config->SetFormat(&other), S_OK) << run;
  }
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
  ASSERT_EQ(rig_->pin->ConnectionMediaType(&connected), S_OK);
  expectRow(connected, 0);

  // A type downstream refuses leaves the connection and the offer as they were.
  rig_->sink->accept = cameraviewer::acceptOnly(MEDIASUBTYPE_YUY2, 1280, 720);
  EXPECT_EQ(rig_->config->SetFormat(&same), VFW_E_INVALIDMEDIATYPE);
  ASSERT_EQ(rig_->pin->ConnectionMediaType(&connected), S_OK);
  expectRow(connected, 0);
  ComPtr<IPin> peer;
  ASSERT_EQ(rig_->pin->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(peer.Get(), rig_->sink->pin());
  ASSERT_EQ(stream_->GetMediaType(0, &only), S_OK);
  expectRow(only, 0);
  expectBuffers(1280 * 720 * 2);
}

TEST_F(CameraFormatTest, PinCategoryThroughIKsPropertySet) {
  ComPtr<IKsPropertySet> properties;
  ASSERT_EQ(rig_->pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(properties.ReleaseAndGetAddressOf())), S_OK);
  GUID category = GUID_NULL;
  DWORD returned = 0;
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                            &returned),
            S_OK);
  EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
  EXPECT_EQ(returned, 16u);
  // Size only; neither; too small a buffer; other sets and properties.
  returned = 0;
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned), S_OK);
  EXPECT_EQ(returned, 16u);
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, nullptr), E_POINTER);
  BYTE small[15];
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, small, sizeof(small), nullptr),
            E_UNEXPECTED);
  EXPECT_EQ(properties->Get(PIN_CATEGORY_CAPTURE, 0, nullptr, 0, &category, 16, &returned), E_PROP_SET_UNSUPPORTED);
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, 16, &returned), E_PROP_ID_UNSUPPORTED);

  DWORD support = 0;
  EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
  EXPECT_EQ(support, DWORD(KSPROPERTY_SUPPORT_GET));
  EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr), S_OK);
  EXPECT_EQ(properties->QuerySupported(GUID_NULL, 0, &support), E_PROP_SET_UNSUPPORTED);
  EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, 7, &support), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16), E_NOTIMPL);
}

}  // namespace
}  // namespace vcam::cameratest
