// A DirectShow pin: connection (type negotiation with the peer), identity, and the hooks a
// derived pin supplies (which types it takes, what it does on connect and disconnect). It
// shares its filter's lock and its filter's lifetime: reference counts go to the filter.
#pragma once

#include "dshow/critical_section_win.h"
#include "dshow/dshow_common_win.h"
#include "dshow/media_type_win.h"
#include "dshow/ref_time_win.h"
#include "dshow/unknown_win.h"

namespace dshow {

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  CBasePin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result, const wchar_t* pinName,
           PIN_DIRECTION direction);
  ~CBasePin() override;

  BRINDLE_DECLARE_IUNKNOWN

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // Forwarded to the filter, so a pin lives exactly as long as its filter.
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  virtual LONG GetMediaTypeVersion();
  // Called by the filter on the way out of and back into the stopped state.
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME start);
  // S_OK accepts the type; anything else refuses it.
  virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
  virtual HRESULT SetMediaType(const CMediaType* type);
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin* receivePin);
  // The preferred type at `position`: S_OK, VFW_S_NO_MORE_ITEMS past the end, or an error.
  virtual HRESULT GetMediaType(int position, CMediaType* type);

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // IQualityControl
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
  HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

  bool IsConnected() const { return connected_ != nullptr; }
  IPin* GetConnected() const { return connected_.Get(); }
  const CMediaType& CurrentMediaType() const { return mt_; }
  // Tells enumerators that the preferred types changed.
  void IncrementTypeVersion() { InterlockedIncrement(&typeVersion_); }

 protected:
  // One connection attempt with one complete type.
  HRESULT AttemptConnection(IPin* receivePin, const CMediaType* type);
  // Tries every type of `types` that matches the partial type `filter` (null: all).
  HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* filter, IEnumMediaTypes* types);
  HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* type);

  WCHAR name_[MAX_PIN_NAME] = {};
  Microsoft::WRL::ComPtr<IPin> connected_;
  PIN_DIRECTION direction_;
  CCritSec* lock_;
  bool runTimeError_ = false;
  bool canReconnectWhenActive_ = false;
  bool typesFirst_ = false;  // our own types are tried after the peer's
  CBaseFilter* filter_;
  IQualityControl* qualitySink_ = nullptr;  // not counted
  volatile LONG typeVersion_ = 1;
  CMediaType mt_;
  CRefTime segmentStart_;
  CRefTime segmentStop_ = MAXLONGLONG;
  double segmentRate_ = 1.0;
};

}  // namespace dshow
