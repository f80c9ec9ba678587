// An output pin with its own worker thread that fills and delivers samples for as long as the
// filter is paused or running. A derived stream supplies FillBuffer, DecideBufferSize and its
// media types (CheckMediaType plus GetMediaType by position, or the single-type GetMediaType).
#pragma once

#include "dshow/am_thread_win.h"
#include "dshow/base_output_pin_win.h"

namespace dshow {

class CSource;

class CSourceStream : public CAMThread, public CBaseOutputPin {
 public:
  enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

  // Adds itself to `parent`; the outcome (S_OK or E_OUTOFMEMORY) goes to `result`.
  CSourceStream(const wchar_t* objectName, HRESULT* result, CSource* parent, const wchar_t* pinName);
  ~CSourceStream() override;

  // Worker side, in the worker thread.
  DWORD ThreadProc() override;
  // S_OK delivers the sample, S_FALSE ends the stream, an error ends it and aborts the graph.
  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  virtual HRESULT OnThreadCreate() { return S_OK; }
  virtual HRESULT OnThreadDestroy() { return S_OK; }
  virtual HRESULT OnThreadStartPlay() { return S_OK; }
  virtual HRESULT DoBufferProcessingLoop();
  // The one type of a single-type stream.
  virtual HRESULT GetMediaType(CMediaType* type);

  // Pin side.
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  // Starts the worker (paused), or does nothing for an unconnected pin.
  HRESULT Active() override;
  // Decommits first, so a worker waiting for a buffer wakes, then stops and joins it, also when
  // the decommit failed. Returns the first failure.
  HRESULT Inactive() override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

 protected:
  CSource* parent_;
};

}  // namespace dshow
