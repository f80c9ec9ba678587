// A DirectShow filter: state (stopped, paused, running), reference clock, graph membership
// and the pins a derived class provides. State changes are driven here and passed on to the
// connected pins; every change runs under the filter's lock.
#pragma once

#include <atomic>

#include "dshow/critical_section_win.h"
#include "dshow/dshow_common_win.h"
#include "dshow/ref_time_win.h"
#include "dshow/setup_data_win.h"
#include "dshow/unknown_win.h"

namespace dshow {

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  // `lock` guards state and pins and must outlive the filter's use of it.
  CBaseFilter(const wchar_t* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid);
  ~CBaseFilter() override;

  BRINDLE_DECLARE_IUNKNOWN

  // Non-delegating side: IBaseFilter, IMediaFilter, IPersist and IAMovieSetup.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Clock time minus the stream start time, or VFW_E_NO_CLOCK.
  virtual HRESULT StreamTime(CRefTime& time);
  virtual LONG GetPinVersion();
  virtual int GetPinCount() = 0;
  // The pin at `index` without a reference added, or null.
  virtual CBasePin* GetPin(int index) = 0;
  virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
  // IAMovieSetup: S_FALSE when the filter has no setup data.
  HRESULT STDMETHODCALLTYPE Register() override;
  HRESULT STDMETHODCALLTYPE Unregister() override;

  // Sends an event to the graph; EC_COMPLETE carries this filter. E_NOTIMPL outside a graph.
  HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

  bool IsStopped() const { return state_ == State_Stopped; }
  bool IsActive() const { return state_ != State_Stopped; }
  FILTER_STATE State() const { return state_; }
  IFilterGraph* Graph() const { return graph_; }
  // Tells enumerators that the set of pins changed.
  void IncrementPinVersion() { InterlockedIncrement(&pinVersion_); }

 protected:
  volatile FILTER_STATE state_ = State_Stopped;
  Microsoft::WRL::ComPtr<IReferenceClock> clock_;
  CRefTime start_;
  CLSID clsid_;
  CCritSec* lock_;
  WCHAR name_[MAX_FILTER_NAME] = {};
  IFilterGraph* graph_ = nullptr;   // not counted: the graph owns us
  std::atomic<IMediaEventSink*> sink_{nullptr};  // not counted either; read by workers
  volatile LONG pinVersion_ = 1;

 private:
  HRESULT registerFilter(bool doRegister);
};

}  // namespace dshow
