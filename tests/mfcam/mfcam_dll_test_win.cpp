// The media source DLL as the Frame Server meets it, without the Frame Server: class factory and
// IMFActivate, the interfaces and stream attributes it looks for, the documented answers to
// Pause and to controls the source does not have, Start, Stop and Shutdown in every order with
// their events, calls after Shutdown, no thread or handle left behind, and registration.
#include "source_rig_win.h"

#include <devicetopology.h>
#include <ksmedia.h>
#include <mferror.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "mfcam/mf_declarations_win.h"  // the IMFMediaStream2 declaration MinGW-w64 lacks
#include "support/wait.h"
#include "tools/process_probe/process_counters_win.h"

namespace mfcamtest {
namespace {

// From the documentation of mfidl.h: IMFMediaStream2 and the stream attributes.
const IID kIidMediaStream2 = {0xC5BC37D6, 0x75C7, 0x46A1, {0xA1, 0x32, 0x81, 0xB5, 0xF7, 0x23, 0xC2, 0x0F}};
const GUID kStreamCategory = {0x2939e7b8, 0xa62e, 0x4579, {0xb6, 0x74, 0xd4, 0x07, 0x3d, 0xfa, 0xbb, 0xba}};
const GUID kStreamId = {0x11bd5120, 0xd124, 0x446b, {0x88, 0xe6, 0x17, 0x06, 0x02, 0x57, 0xff, 0xf9}};
const GUID kFrameServerShared = {0x1cb378e9, 0xb279, 0x41d4, {0xaf, 0x97, 0x34, 0xa2, 0x43, 0xe6, 0x83, 0x20}};
const GUID kFrameSourceTypes = {0x17145fd1, 0x1b2b, 0x423c, {0x80, 0x01, 0x2b, 0x68, 0x33, 0xed, 0x35, 0x88}};

using DllTest = SourceTest;

// Event types waiting in a generator's queue, without waiting for more.
std::vector<MediaEventType> drain(IMFMediaEventGenerator* generator) {
  std::vector<MediaEventType> types;
  for (int i = 0; i < 32; i++) {
    ComPtr<IMFMediaEvent> event;
    if (FAILED(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) break;
    MediaEventType type = MEUnknown;
    event->GetType(&type);
    types.push_back(type);
  }
  return types;
}

void expectStreamAttributes(IMFAttributes* attributes) {
  GUID category = GUID_NULL;
  EXPECT_HRESULT_SUCCEEDED(attributes->GetGUID(kStreamCategory, &category));
  EXPECT_EQ(category, PINNAME_VIDEO_CAPTURE);
  EXPECT_EQ(MFGetAttributeUINT32(attributes, kStreamId, 99), 0u);
  EXPECT_EQ(MFGetAttributeUINT32(attributes, kFrameServerShared, 0), 1u);
  EXPECT_EQ(MFGetAttributeUINT32(attributes, kFrameSourceTypes, 0), 1u) << "colour";
}

TEST_F(DllTest, FactoryActivateInterfacesAttributesAndTheDocumentedRefusals) {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(classFactory(GUID_NULL, &factory), CLASS_E_CLASSNOTAVAILABLE);
  ComPtr<IMFActivate> activator;
  ComPtr<IMFMediaSource> source, again;
  ASSERT_NO_FATAL_FAILURE(makeSource(activator, source));
  ASSERT_HRESULT_SUCCEEDED(activator->ActivateObject(IID_PPV_ARGS(&again)));
  EXPECT_EQ(source.Get(), again.Get()) << "one source per activation object";
  again.Reset();

  ComPtr<IMFMediaSourceEx> sourceEx;
  ComPtr<IMFGetService> service;
  ComPtr<IKsControl> controls;
  ASSERT_HRESULT_SUCCEEDED(source.As(&sourceEx));
  ASSERT_HRESULT_SUCCEEDED(source.As(&service));
  ASSERT_HRESULT_SUCCEEDED(source.As(&controls));
  DWORD characteristics = 0;
  ASSERT_HRESULT_SUCCEEDED(source->GetCharacteristics(&characteristics));
  EXPECT_EQ(characteristics, DWORD(MFMEDIASOURCE_IS_LIVE));

  ComPtr<IMFAttributes> attributes;
  ASSERT_HRESULT_SUCCEEDED(sourceEx->GetStreamAttributes(0, &attributes));
  expectStreamAttributes(attributes.Get());
  EXPECT_EQ(sourceEx->GetStreamAttributes(1, &attributes), MF_E_INVALIDSTREAMNUMBER);
  EXPECT_HRESULT_SUCCEEDED(sourceEx->GetSourceAttributes(&attributes));
  EXPECT_HRESULT_SUCCEEDED(sourceEx->SetD3DManager(nullptr));

  ComPtr<IMFPresentationDescriptor> presentation;
  ComPtr<IMFStreamDescriptor> stream;
  BOOL selected = FALSE;
  DWORD count = 0;
  ASSERT_HRESULT_SUCCEEDED(source->CreatePresentationDescriptor(&presentation));
  ASSERT_HRESULT_SUCCEEDED(presentation->GetStreamDescriptorCount(&count));
  EXPECT_EQ(count, 1u);
  ASSERT_HRESULT_SUCCEEDED(presentation->GetStreamDescriptorByIndex(0, &selected, &stream));
  EXPECT_TRUE(selected);
  expectStreamAttributes(stream.Get());

  EXPECT_EQ(source->Pause(), MF_E_INVALID_STATE_TRANSITION);
  KSPROPERTY property = {};
  property.Set = PROPSETID_VIDCAP_CAMERACONTROL;
  property.Flags = KSPROPERTY_TYPE_GET;
  BYTE data[64] = {};
  ULONG returned = 7;
  const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
  EXPECT_EQ(controls->KsProperty(&property, sizeof(property), data, sizeof(data), &returned), notFound);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(controls->KsMethod(&property, sizeof(property), data, sizeof(data), &returned), notFound);
  EXPECT_EQ(controls->KsEvent(nullptr, 0, nullptr, 0, &returned), notFound);
  void* unused = nullptr;
  EXPECT_EQ(service->GetService(MF_RATE_CONTROL_SERVICE, IID_IUnknown, &unused), MF_E_UNSUPPORTED_SERVICE);

  // The stream, once started, is an IMFMediaStream2 that reports and changes its state.
  PROPVARIANT now;
  PropVariantInit(&now);
  ASSERT_HRESULT_SUCCEEDED(source->Start(presentation.Get(), nullptr, &now));
  ComPtr<IMFMediaEvent> event;
  ASSERT_HRESULT_SUCCEEDED(source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
  PROPVARIANT value;
  PropVariantInit(&value);
  ASSERT_HRESULT_SUCCEEDED(event->GetValue(&value));
  ASSERT_EQ(value.vt, VT_UNKNOWN);
  ComPtr<IMFMediaStream2> stream2;
  EXPECT_HRESULT_SUCCEEDED(
      value.punkVal->QueryInterface(kIidMediaStream2, reinterpret_cast<void**>(stream2.GetAddressOf())));
  PropVariantClear(&value);
  ASSERT_TRUE(stream2);
  MF_STREAM_STATE state = MF_STREAM_STATE_PAUSED;
  EXPECT_HRESULT_SUCCEEDED(stream2->GetStreamState(&state));
  EXPECT_EQ(state, MF_STREAM_STATE_RUNNING);
  EXPECT_EQ(stream2->SetStreamState(MF_STREAM_STATE_PAUSED), MF_E_INVALID_STATE_TRANSITION);
  EXPECT_HRESULT_SUCCEEDED(stream2->SetStreamState(MF_STREAM_STATE_STOPPED));
  EXPECT_EQ(stream2->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
  EXPECT_HRESULT_SUCCEEDED(stream2->SetStreamState(MF_STREAM_STATE_RUNNING));
  EXPECT_HRESULT_SUCCEEDED(stream2->GetStreamState(&state));
  EXPECT_EQ(state, MF_STREAM_STATE_RUNNING);

  ASSERT_HRESULT_SUCCEEDED(source->Shutdown());
  EXPECT_EQ(stream2->RequestSample(nullptr), MF_E_SHUTDOWN);
  EXPECT_EQ(controls->KsProperty(&property, sizeof(property), data, sizeof(data), &returned), notFound);
  activator->ShutdownObject();
}

// One step of a run of the source, and what it must answer and send.
enum class Step { Start, Stop, Pause, Request, Shutdown };

struct SourceRun {
  ComPtr<IMFActivate> activator;
  ComPtr<IMFMediaSource> source;
  ComPtr<IMFPresentationDescriptor> presentation;
  ComPtr<IMFMediaStream> stream;
  bool started = false, down = false;
};

void step(SourceRun& run, Step what) {
  PROPVARIANT now;
  PropVariantInit(&now);
  std::vector<MediaEventType> source, stream;
  switch (what) {
    case Step::Start: {
      ASSERT_EQ(run.source->Start(run.presentation.Get(), nullptr, &now), run.down ? MF_E_SHUTDOWN : S_OK);
      if (run.down) break;
      const bool first = !run.stream;
      ComPtr<IMFMediaEvent> event;
      ASSERT_HRESULT_SUCCEEDED(run.source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
      MediaEventType type = MEUnknown;
      event->GetType(&type);
      EXPECT_EQ(type, first ? MENewStream : MEUpdatedStream);
      PROPVARIANT value;
      PropVariantInit(&value);
      event->GetValue(&value);
      if (value.vt == VT_UNKNOWN) value.punkVal->QueryInterface(IID_PPV_ARGS(&run.stream));
      PropVariantClear(&value);
      ASSERT_TRUE(run.stream);
      EXPECT_EQ(drain(run.source.Get()), std::vector<MediaEventType>{MESourceStarted});
      EXPECT_EQ(drain(run.stream.Get()), std::vector<MediaEventType>{MEStreamStarted});
      run.started = true;
      break;
    }
    case Step::Stop:
      ASSERT_EQ(run.source->Stop(), run.down ? MF_E_SHUTDOWN : S_OK);
      if (run.down) break;
      EXPECT_EQ(drain(run.source.Get()), std::vector<MediaEventType>{MESourceStopped});
      if (run.stream) {
        EXPECT_EQ(drain(run.stream.Get()),
                  run.started ? std::vector<MediaEventType>{MEStreamStopped} : std::vector<MediaEventType>{});
      }
      run.started = false;
      break;
    case Step::Pause:
      EXPECT_EQ(run.source->Pause(), run.down ? MF_E_SHUTDOWN : MF_E_INVALID_STATE_TRANSITION);
      break;
    case Step::Request: {
      if (!run.stream) break;
      ComPtr<IMFAttributes> tokenStore;
      ComPtr<IUnknown> token;
      ASSERT_HRESULT_SUCCEEDED(MFCreateAttributes(&tokenStore, 0));
      ASSERT_HRESULT_SUCCEEDED(tokenStore.As(&token));
      const HRESULT hr = run.stream->RequestSample(token.Get());
      EXPECT_EQ(hr, run.down ? MF_E_SHUTDOWN : run.started ? S_OK : MF_E_MEDIA_SOURCE_WRONGSTATE);
      if (hr != S_OK) break;
      ComPtr<IMFMediaEvent> event;
      ASSERT_HRESULT_SUCCEEDED(run.stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
      MediaEventType type = MEUnknown;
      event->GetType(&type);
      EXPECT_EQ(type, MEMediaSample);
      PROPVARIANT value;
      PropVariantInit(&value);
      event->GetValue(&value);
      ComPtr<IMFSample> sample;
      if (value.vt == VT_UNKNOWN) value.punkVal->QueryInterface(IID_PPV_ARGS(&sample));
      PropVariantClear(&value);
      ASSERT_TRUE(sample);
      ComPtr<IUnknown> carried;
      EXPECT_HRESULT_SUCCEEDED(sample->GetUnknown(MFSampleExtension_Token, IID_PPV_ARGS(&carried)));
      EXPECT_EQ(carried.Get(), token.Get()) << "the request's token comes back with its sample";
      break;
    }
    case Step::Shutdown: {
      ASSERT_EQ(run.source->Shutdown(), run.down ? MF_E_SHUTDOWN : S_OK);
      run.down = true;
      ComPtr<IMFMediaEvent> event;
      DWORD characteristics = 0;
      ComPtr<IMFPresentationDescriptor> presentation;
      EXPECT_EQ(run.source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
      EXPECT_EQ(run.source->GetCharacteristics(&characteristics), MF_E_SHUTDOWN);
      EXPECT_EQ(run.source->CreatePresentationDescriptor(&presentation), MF_E_SHUTDOWN);
      if (run.stream) {
        ComPtr<IMFMediaSource> owner;
        EXPECT_EQ(run.stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
        EXPECT_EQ(run.stream->GetMediaSource(&owner), MF_E_SHUTDOWN);
      }
      break;
    }
  }
}

// Every order of the five steps, each run ended by the activation object.
void everyOrder(SourceTest* test, int* runs) {
  std::vector<Step> steps = {Step::Start, Step::Stop, Step::Pause, Step::Request, Step::Shutdown};  // sorted
  do {
    SourceRun run;
    ASSERT_HRESULT_SUCCEEDED(test->activate(&run.activator));
    ASSERT_HRESULT_SUCCEEDED(run.activator->ActivateObject(IID_PPV_ARGS(&run.source)));
    ASSERT_HRESULT_SUCCEEDED(run.source->CreatePresentationDescriptor(&run.presentation));
    // Start twice and stop twice too: the second of each is a restart and a stop when stopped.
    for (Step s : steps) ASSERT_NO_FATAL_FAILURE(step(run, s));
    for (Step s : steps) ASSERT_NO_FATAL_FAILURE(step(run, s));
    run.activator->ShutdownObject();
    ++*runs;
  } while (std::next_permutation(steps.begin(), steps.end()));
}

struct Counters {
  std::uint32_t threads = 0, handles = 0;
};
Counters counters() {
  processprobe::ProcessCounters c;
  processprobe::readOwnCounters(c);
  return {c.threads, c.handles};
}

TEST_F(DllTest, StartStopShutdownInEveryOrderLeaveNoThreadOrHandle) {
  int runs = 0;
  ASSERT_NO_FATAL_FAILURE(everyOrder(this, &runs));  // warms Media Foundation's own threads up
  const Counters before = counters();
  for (int round = 0; round < 3; round++) ASSERT_NO_FATAL_FAILURE(everyOrder(this, &runs));
  EXPECT_EQ(runs, 4 * 120);
  Counters after;
  EXPECT_TRUE(testsupport::waitUntil(
      [&] {
        after = counters();
        return after.threads <= before.threads && after.handles <= before.handles;
      },
      std::chrono::seconds(10)))
      << "threads " << before.threads << " -> " << after.threads << ", handles " << before.handles << " -> "
      << after.handles;
}

TEST_F(DllTest, StopEndsARequestWaitingForItsTime) {
  SourceRun run;
  ASSERT_NO_FATAL_FAILURE(makeSource(run.activator, run.source));
  ASSERT_HRESULT_SUCCEEDED(run.source->CreatePresentationDescriptor(&run.presentation));
  ASSERT_NO_FATAL_FAILURE(step(run, Step::Start));
  // The first sample is due at once, the second one frame interval (33 ms) later.
  ASSERT_HRESULT_SUCCEEDED(run.stream->RequestSample(nullptr));
  HRESULT waited = S_OK;
  std::thread requester([&] { waited = run.stream->RequestSample(nullptr); });
  Sleep(5);
  EXPECT_HRESULT_SUCCEEDED(run.source->Stop());
  requester.join();
  EXPECT_EQ(waited, MF_E_MEDIA_SOURCE_WRONGSTATE) << "a request still waiting when the source stops is dropped";
  run.activator->ShutdownObject();
}

TEST_F(DllTest, RegistersItselfAsAFreeThreadedInprocServerAndUnregisters) {
  const std::wstring key = L"CLSID\\{EFA3B694-F577-422B-BCE5-F3553CF9D409}";
  const std::wstring server = key + L"\\InprocServer32";
  auto reg = dlltest::exportOf<HRESULT(STDAPICALLTYPE*)()>(module_, "DllRegisterServer");
  auto unreg = dlltest::exportOf<HRESULT(STDAPICALLTYPE*)()>(module_, "DllUnregisterServer");
  ASSERT_TRUE(reg && unreg);
  ASSERT_HRESULT_SUCCEEDED(reg());
  EXPECT_EQ(dlltest::stringValue(server.c_str(), nullptr), dllPath());
  EXPECT_EQ(dlltest::stringValue(server.c_str(), L"ThreadingModel"), L"Both");
  ASSERT_HRESULT_SUCCEEDED(unreg());
  EXPECT_FALSE(dlltest::keyExists(key.c_str()));
  EXPECT_HRESULT_SUCCEEDED(unreg()) << "nothing left to remove is no failure";
}

TEST_F(DllTest, CanUnloadOnceEveryObjectIsGone) {
  auto canUnload = dlltest::exportOf<HRESULT(STDAPICALLTYPE*)()>(module_, "DllCanUnloadNow");
  ASSERT_TRUE(canUnload);
  {
    ComPtr<IMFActivate> activator;
    ComPtr<IMFMediaSource> source;
    ASSERT_NO_FATAL_FAILURE(makeSource(activator, source));
    EXPECT_EQ(canUnload(), S_FALSE);
    activator->ShutdownObject();
  }
  EXPECT_EQ(canUnload(), S_OK);
}

}  // namespace
}  // namespace mfcamtest
