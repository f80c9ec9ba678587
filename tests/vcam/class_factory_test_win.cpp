// The DLL's class object and unload rule, through its exports: which class and interfaces
// DllGetClassObject answers, CreateInstance plain and aggregated, and DllCanUnloadNow while a
// filter, a factory or a server lock is alive, also under concurrent use.
#include <windows.h>

#include <dshow.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "dll_rig_win.h"

namespace dlltest {
namespace {

const CLSID kCameraClsid = {0x9a8e4b2f, 0x2d7c, 0x4e47, {0x8e, 0x5e, 0x7f, 0x4c, 0x1a, 0x2b, 0x3c, 0x4d}};
const CLSID kOtherClsid = {0x9a8e4b2f, 0x2d7c, 0x4e47, {0x8e, 0x5e, 0x7f, 0x4c, 0x1a, 0x2b, 0x3c, 0x4e}};

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

// An outer object that aggregates the camera and counts the references it is given.
class Outer : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs)); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(InterlockedDecrement(&refs)); }
  LONG refs = 1;
  IUnknown* inner = nullptr;
};

class ClassFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    dll_ = LoadLibraryW(dllPath().c_str());
    ASSERT_NE(dll_, nullptr);
    getClassObject_ = exportOf<GetClassObject>(dll_, "DllGetClassObject");
    canUnloadNow_ = exportOf<CanUnloadNow>(dll_, "DllCanUnloadNow");
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
    ASSERT_EQ(canUnloadNow_(), S_OK) << "nothing alive before the test";
  }
  void TearDown() override {
    if (canUnloadNow_) {
      EXPECT_EQ(canUnloadNow_(), S_OK) << "the test left an object or a lock behind";
    }
    if (dll_) FreeLibrary(dll_);
    CoUninitialize();
  }
  IClassFactory* factory() {
    IClassFactory* f = nullptr;
    EXPECT_EQ(getClassObject_(kCameraClsid, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    return f;
  }

  HMODULE dll_ = nullptr;
  GetClassObject getClassObject_ = nullptr;
  CanUnloadNow canUnloadNow_ = nullptr;
};

TEST_F(ClassFactoryTest, ClassObjectOnlyForTheCameraAndOnlyAsAFactory) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(kOtherClsid, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(kCameraClsid, IID_IPin, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(getClassObject_(kCameraClsid, IID_IClassFactory, nullptr), E_POINTER);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(getClassObject_(kCameraClsid, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  IClassFactory* f = nullptr;
  EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
  IPin* pin = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(unknown->QueryInterface(IID_IPin, reinterpret_cast<void**>(&pin)), E_NOINTERFACE);
  EXPECT_EQ(pin, nullptr);
  EXPECT_EQ(unknown->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  f->Release();
  EXPECT_EQ(unknown->Release(), 0u);
}

TEST_F(ClassFactoryTest, CreateInstancePlainAndAggregated) {
  IClassFactory* f = factory();
  ASSERT_NE(f, nullptr);

  IBaseFilter* filter = nullptr;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  CLSID clsid = CLSID_NULL;
  EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, kCameraClsid);
  IPin* pin = nullptr;
  EXPECT_EQ(filter->FindPin(L"1", &pin), S_OK);
  if (pin) pin->Release();
  EXPECT_EQ(filter->Release(), 0u);
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IBaseFilter, nullptr), E_POINTER);
  // A query the filter does not answer frees the new object again.
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  Outer outer;
  none = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(&outer, IID_IBaseFilter, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  ASSERT_EQ(f->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  ASSERT_NE(outer.inner, nullptr);
  // Interfaces got through the inner unknown count on the outer object.
  LONG before = outer.refs;
  IBaseFilter* aggregated = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&aggregated)), S_OK);
  EXPECT_EQ(outer.refs, before + 1);
  IUnknown* identity = nullptr;
  ASSERT_EQ(aggregated->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)) << "the aggregate's identity is the outer object";
  identity->Release();
  aggregated->Release();
  EXPECT_EQ(outer.refs, before);
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "the aggregated filter is alive";
  EXPECT_EQ(outer.inner->Release(), 0u);
  outer.inner = nullptr;

  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "the factory is alive";
  EXPECT_EQ(f->Release(), 0u);
}

TEST_F(ClassFactoryTest, CanUnloadNowWaitsForFiltersFactoriesAndLocks) {
  IClassFactory* f = factory();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);

  IBaseFilter* filter = nullptr;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  f->Release();
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a filter is alive";
  filter->Release();
  EXPECT_EQ(canUnloadNow_(), S_OK);

  f = factory();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  f->Release();
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "locked twice, no object";
  f = factory();
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  f->Release();
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "still locked once";
  f = factory();
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  f->Release();
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ClassFactoryTest, LocksAndReferencesFromManyThreadsBalanceOut) {
  IClassFactory* f = factory();
  ASSERT_NE(f, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([f] {
      for (int i = 0; i < 20000; i++) {
        f->AddRef();
        f->LockServer(TRUE);
        f->LockServer(FALSE);
        f->Release();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(f->Release(), 0u) << "every reference came back";
}

}  // namespace
}  // namespace dlltest
