// Enumerators, pin and filter identity, COM identity and lifetime of framework objects.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>

#include "graph_rig_win.h"
#include "dshow/enum_pins_win.h"

namespace dshow::test {
namespace {

class IdentityTest : public FrameworkTest {};

// Counts task-memory blocks that are allocated while it is registered and not yet freed.
class TaskMemorySpy : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
      *ppv = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (block) live_.insert(block);
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.erase(block);
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.erase(block);
    *newBlock = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return PostAlloc(block); }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int result) override { return result; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  bool owns(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.count(block) != 0;
  }
  size_t live() {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.size();
  }

 private:
  std::mutex mutex_;
  std::set<void*> live_;
};

std::wstring pinName(IPin* pin) {
  PIN_INFO info = {};
  if (FAILED(pin->QueryPinInfo(&info))) return L"?";
  if (info.pFilter) info.pFilter->Release();
  return info.achName;
}

// A standalone source with `count` pins, and an enumerator of them.
struct SourcePins {
  explicit SourcePins(int count) : filter(createSource(count, &source)) {
    EXPECT_EQ(filter->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
  }
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> filter;
  ComPtr<IEnumPins> pins;
};

void releaseAll(IPin** pins, ULONG count) {
  for (ULONG i = 0; i < count; ++i) pins[i]->Release();
}

TEST_F(IdentityTest, PinEnumeratorWalksThePinsOnce) {
  SourcePins p(3);
  IPin* got[4] = {};
  ULONG fetched = 99;
  EXPECT_EQ(p.pins->Next(1, nullptr, &fetched), E_POINTER);
  EXPECT_EQ(p.pins->Next(2, got, nullptr), E_INVALIDARG);
  ASSERT_EQ(p.pins->Next(1, got, nullptr), S_OK);  // one pin needs no count
  EXPECT_EQ(got[0], p.source->pin(0));
  releaseAll(got, 1);
  ASSERT_EQ(p.pins->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(pinName(got[0]), L"Out2");
  EXPECT_EQ(pinName(got[1]), L"Out3");
  releaseAll(got, fetched);
  EXPECT_EQ(p.pins->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  // Skip, Reset and Clone.
  ASSERT_EQ(p.pins->Reset(), S_OK);
  EXPECT_EQ(p.pins->Skip(2), S_OK);
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(p.pins->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(p.pins->Skip(2), S_FALSE);
  ASSERT_EQ(clone->Next(1, got, &fetched), S_OK);
  EXPECT_EQ(got[0], p.source->pin(2));
  releaseAll(got, fetched);
}

TEST_F(IdentityTest, PinEnumeratorNoticesANewPinSet) {
  SourcePins p(2);
  IPin* got[4] = {};
  ULONG fetched = 0;
  ASSERT_EQ(p.pins->Next(1, got, &fetched), S_OK);
  releaseAll(got, fetched);

  HRESULT hr = S_OK;
  new TestStream(&hr, p.source, L"Late");
  ASSERT_EQ(hr, S_OK);
  p.source->IncrementPinVersion();
  ComPtr<IEnumPins> clone;
  EXPECT_EQ(p.pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(p.pins->Clone(clone.ReleaseAndGetAddressOf()), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_FALSE(clone);

  // Next starts over on the new set but hands out no pin twice.
  ASSERT_EQ(p.pins->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(pinName(got[0]), L"Out2");
  EXPECT_EQ(pinName(got[1]), L"Late");
  releaseAll(got, fetched);

  ASSERT_EQ(p.pins->Reset(), S_OK);
  EXPECT_EQ(p.pins->Skip(3), S_OK);
}

class TypeEnumeratorTest : public IdentityTest {
 protected:
  void SetUp() override {
    IdentityTest::SetUp();
    filter_ = createSource(1, &source_);
    stream()->types = {makeVideoType(MEDIASUBTYPE_YUY2, 64, 48), makeVideoType(MEDIASUBTYPE_NV12, 64, 48),
                       makeVideoType(MEDIASUBTYPE_RGB24, 64, 48)};
    ASSERT_EQ(stream()->EnumMediaTypes(types_.ReleaseAndGetAddressOf()), S_OK);
  }
  void TearDown() override {
    types_.Reset();
    filter_.Reset();
    IdentityTest::TearDown();
  }
  TestStream* stream() { return source_->stream(0); }

  TestSource* source_ = nullptr;
  ComPtr<IBaseFilter> filter_;
  ComPtr<IEnumMediaTypes> types_;
};

TEST_F(TypeEnumeratorTest, WalksThePreferredTypes) {
  AM_MEDIA_TYPE* got[4] = {};
  ULONG fetched = 99;
  EXPECT_EQ(types_->Next(1, nullptr, &fetched), E_POINTER);
  EXPECT_EQ(types_->Next(2, got, nullptr), E_INVALIDARG);
  ASSERT_EQ(types_->Next(2, got, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[1]->subtype, MEDIASUBTYPE_NV12);
  DeleteMediaType(got[0]);
  DeleteMediaType(got[1]);
  ASSERT_EQ(types_->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(got[0]->subtype, MEDIASUBTYPE_RGB24);
  DeleteMediaType(got[0]);
  EXPECT_EQ(types_->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  ASSERT_EQ(types_->Reset(), S_OK);
  EXPECT_EQ(types_->Skip(2), S_OK);
  ComPtr<IEnumMediaTypes> clone;
  ASSERT_EQ(types_->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(types_->Skip(1), S_OK);   // lands past the last type, which exists
  EXPECT_EQ(types_->Skip(1), S_FALSE);
  ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);
  EXPECT_EQ(got[0]->subtype, MEDIASUBTYPE_RGB24);
  DeleteMediaType(got[0]);
}

TEST_F(TypeEnumeratorTest, NoticesAChangedTypeList) {
  stream()->IncrementTypeVersion();
  AM_MEDIA_TYPE* got[1] = {};
  ULONG fetched = 0;
  ComPtr<IEnumMediaTypes> clone;
  EXPECT_EQ(types_->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(types_->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(types_->Clone(clone.ReleaseAndGetAddressOf()), VFW_E_ENUM_OUT_OF_SYNC);
  ASSERT_EQ(types_->Reset(), S_OK);
  ASSERT_EQ(types_->Next(1, got, &fetched), S_OK);
  DeleteMediaType(got[0]);
}

TEST_F(TypeEnumeratorTest, EachTypeIsTaskMemoryTheCallerFrees) {
  TaskMemorySpy spy;
  ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
  AM_MEDIA_TYPE* got[3] = {};
  ULONG fetched = 0;
  HRESULT hr = types_->Next(3, got, &fetched);
  // Each type and its format block were allocated as task memory and now belong to us.
  size_t owned = spy.live();
  bool allOwned = fetched == 3;
  for (ULONG i = 0; i < fetched; ++i) allOwned = allOwned && spy.owns(got[i]) && spy.owns(got[i]->pbFormat);
  for (ULONG i = 0; i < fetched; ++i) DeleteMediaType(got[i]);
  size_t left = spy.live();
  CoRevokeMallocSpy();
  ASSERT_EQ(hr, S_OK);
  EXPECT_TRUE(allOwned);
  EXPECT_EQ(owned, 6u);
  EXPECT_EQ(left, 0u);
}

TEST_F(IdentityTest, FindPinAndQueryId) {
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> filter = createSource(2, &source);
  ComPtr<IPin> pin;
  ASSERT_EQ(filter->FindPin(L"1", pin.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(pin.Get(), source->pin(0));
  ASSERT_EQ(filter->FindPin(L"2", pin.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(pin.Get(), source->pin(1));
  for (const wchar_t* bad : {L"0", L"3", L"", L"abc", L"1x", L"-1", L"Out1", L"99999999999999999999"}) {
    IPin* found = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(filter->FindPin(bad, &found), VFW_E_NOT_FOUND) << std::wstring(bad).size();
    EXPECT_EQ(found, nullptr);
  }

  for (int i = 0; i < 2; ++i) {
    LPWSTR id = nullptr;
    ASSERT_EQ(source->pin(i)->QueryId(&id), S_OK);
    EXPECT_EQ(std::wstring(id), i == 0 ? L"1" : L"2");
    // The identifier leads back to the same pin.
    ASSERT_EQ(filter->FindPin(id, pin.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(pin.Get(), source->pin(i));
    CoTaskMemFree(id);
  }
}

TEST_F(IdentityTest, InfoNamesAreCutTo127Characters) {
  std::wstring longName(200, L'n');
  HRESULT hr = S_OK;
  TestSource* source = new TestSource(nullptr, 0, &hr);
  ComPtr<IBaseFilter> filter(source->filter());
  new TestStream(&hr, source, longName.c_str());

  PIN_INFO pinInfo = {};
  ASSERT_EQ(source->pin(0)->QueryPinInfo(&pinInfo), S_OK);
  EXPECT_EQ(std::wstring(pinInfo.achName), longName.substr(0, 127));
  EXPECT_EQ(pinInfo.pFilter, filter.Get());
  EXPECT_EQ(pinInfo.dir, PINDIR_OUTPUT);
  pinInfo.pFilter->Release();

  ASSERT_EQ(filter->JoinFilterGraph(nullptr, longName.c_str()), S_OK);
  FILTER_INFO filterInfo = {};
  ASSERT_EQ(filter->QueryFilterInfo(&filterInfo), S_OK);
  EXPECT_EQ(std::wstring(filterInfo.achName), longName.substr(0, 127));
  EXPECT_EQ(filterInfo.pGraph, nullptr);

  // Inside a graph: the graph's name for us, and the graph itself with a reference.
  rig_.emplace(1);
  ASSERT_EQ(rig_->sourceFilter->QueryFilterInfo(&filterInfo), S_OK);
  EXPECT_EQ(std::wstring(filterInfo.achName), L"Source");
  ComPtr<IFilterGraph> graph;
  rig_->graph->QueryInterface(IID_IFilterGraph, reinterpret_cast<void**>(graph.ReleaseAndGetAddressOf()));
  EXPECT_EQ(filterInfo.pGraph, graph.Get());
  filterInfo.pGraph->Release();
}

TEST_F(IdentityTest, FilterInterfacesShareOneIdentity) {
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> filter = createSource(1, &source);
  ComPtr<IUnknown> identity;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.ReleaseAndGetAddressOf())), S_OK);
  for (const IID* iid : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IAMovieSetup}) {
    ComPtr<IUnknown> side;
    ASSERT_EQ(filter->QueryInterface(*iid, reinterpret_cast<void**>(side.ReleaseAndGetAddressOf())), S_OK);
    ComPtr<IUnknown> back;
    ASSERT_EQ(side->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(back.ReleaseAndGetAddressOf())), S_OK);
    EXPECT_EQ(back.Get(), identity.Get());
  }
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(filter->QueryInterface(IID_IPin, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  CLSID clsid = {};
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, kTestSourceClsid);
  // Without setup data there is nothing to register.
  EXPECT_EQ(source->Register(), S_FALSE);
  EXPECT_EQ(source->Unregister(), S_FALSE);

  // A pin is an object of its own, reachable from the filter only through the pin list.
  ComPtr<IQualityControl> quality;
  ASSERT_EQ(source->pin(0)->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(quality.ReleaseAndGetAddressOf())),
            S_OK);
  EXPECT_EQ(source->pin(0)->QueryInterface(IID_IBaseFilter, &none), E_NOINTERFACE);
}

TEST_F(IdentityTest, PinsLiveExactlyAsLongAsTheirFilter) {
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> filter = createSource(2, &source);
  EXPECT_EQ(CBaseObject::ObjectsActive(), 3);  // the filter and two pins
  IPin* pin = source->pin(1);
  // A reference on the pin is a reference on the filter.
  EXPECT_EQ(pin->AddRef(), 2u);
  EXPECT_EQ(filter->AddRef(), 3u);
  filter->Release();

  filter.Reset();
  EXPECT_EQ(CBaseObject::ObjectsActive(), 3);
  PIN_DIRECTION direction;
  EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
  EXPECT_EQ(direction, PINDIR_OUTPUT);
  EXPECT_EQ(pin->Release(), 0u);
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

// A minimal controlling object that aggregates a test source.
class Outer : public IUnknown {
 public:
  Outer() {
    HRESULT hr = S_OK;
    source_ = new TestSource(this, 1, &hr);
    static_cast<INonDelegatingUnknown*>(source_)->NonDelegatingAddRef();
  }
  virtual ~Outer() { static_cast<INonDelegatingUnknown*>(source_)->NonDelegatingRelease(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return static_cast<INonDelegatingUnknown*>(source_)->NonDelegatingQueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refCount_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = --refCount_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }
  LONG refCount_ = 1;
  TestSource* source_;
};

TEST_F(IdentityTest, AggregatedFilterDelegatesToItsOuter) {
  auto* outer = new Outer();
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(outer->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter.ReleaseAndGetAddressOf())), S_OK);
  EXPECT_EQ(outer->refCount_, 2);  // counted on the outer object
  ComPtr<IUnknown> identity;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.ReleaseAndGetAddressOf())), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(outer));
  // The pin still belongs to the filter: its filter is the outer object's IBaseFilter.
  PIN_INFO info = {};
  ASSERT_EQ(outer->source_->pin(0)->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.pFilter, filter.Get());
  info.pFilter->Release();
  identity.Reset();
  filter.Reset();
  EXPECT_EQ(outer->Release(), 0u);
}

TEST_F(IdentityTest, StreamTimeFollowsTheClock) {
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> filter = createSource(1, &source);
  CRefTime time;
  EXPECT_EQ(source->StreamTime(time), VFW_E_NO_CLOCK);
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                             reinterpret_cast<void**>(clock.ReleaseAndGetAddressOf())),
            S_OK);
  ASSERT_EQ(filter->SetSyncSource(clock.Get()), S_OK);
  REFERENCE_TIME now = 0;
  clock->GetTime(&now);
  ASSERT_EQ(filter->Run(now - 10000000), S_OK);  // started a second ago
  ASSERT_EQ(source->StreamTime(time), S_OK);
  EXPECT_GE(time.time_, 10000000);
  ComPtr<IReferenceClock> current;
  ASSERT_EQ(filter->GetSyncSource(current.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(current.Get(), clock.Get());
  ASSERT_EQ(filter->Stop(), S_OK);
  ASSERT_EQ(filter->SetSyncSource(nullptr), S_OK);
}

TEST_F(IdentityTest, MediaTypeCopiesOwnTheirFormat) {
  CMediaType original = makeVideoType(MEDIASUBTYPE_YUY2, 64, 48);
  CMediaType copy = original;
  EXPECT_TRUE(copy == original);
  EXPECT_NE(copy.pbFormat, original.pbFormat);
  reinterpret_cast<VIDEOINFOHEADER*>(copy.pbFormat)->bmiHeader.biWidth = 32;
  EXPECT_FALSE(copy == original);  // format bytes count

  CMediaType partial;
  partial.SetSubtype(&MEDIASUBTYPE_YUY2);
  EXPECT_TRUE(partial.IsPartiallySpecified());
  EXPECT_TRUE(partial.MatchesPartial(original));
  EXPECT_FALSE(original.IsPartiallySpecified());

  // A format length without a block is not carried into a copy.
  AM_MEDIA_TYPE broken = original;
  broken.pbFormat = nullptr;
  CMediaType fromBroken(broken);
  EXPECT_EQ(fromBroken.cbFormat, 0u);
  EXPECT_EQ(fromBroken.pbFormat, nullptr);
}

}  // namespace
}  // namespace dshow::test
