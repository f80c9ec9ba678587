// One worker thread driven by commands: a caller hands the worker a command and waits for its
// reply, one caller at a time. The worker runs with COM initialised as multithreaded.
#pragma once

#include <windows.h>

#include "dshow/am_event_win.h"
#include "dshow/critical_section_win.h"

namespace dshow {

class CAMThread {
 public:
  CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;

  // The worker's body; its result is the thread's exit code.
  virtual DWORD ThreadProc() = 0;
  virtual ~CAMThread();

  // Starts the worker; false when one exists already or it cannot start.
  bool Create();
  // Hands `command` to the worker and waits for its reply. E_FAIL without a worker, also when
  // the worker ends without replying.
  DWORD CallWorker(DWORD command);
  // Waits for the worker to end and forgets it.
  void Close();
  bool ThreadExists() const { return thread_ != nullptr; }

  // Worker side: wait for a command; poll for one; answer the pending one.
  DWORD GetRequest();
  bool CheckRequest(DWORD* command);
  void Reply(DWORD value);
  // Signalled while a command waits for the worker: lets the worker's own waits end for it.
  HANDLE RequestHandle() const { return request_.Handle(); }

 protected:
  CCritSec workerLock_;  // for derived classes' worker-side state

 private:
  static unsigned __stdcall threadStart(void* self);

  CAMEvent request_{true};
  CAMEvent reply_{false};
  DWORD param_ = 0;
  DWORD returnValue_ = 0;
  HANDLE volatile thread_ = nullptr;
  CCritSec accessLock_;
};

}  // namespace dshow
