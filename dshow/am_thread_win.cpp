#include "dshow/am_thread_win.h"

#include <objbase.h>
#include <process.h>

namespace dshow {

namespace {

typedef HRESULT(WINAPI* CoInitializeExFn)(void*, DWORD);
typedef void(WINAPI* CoUninitializeFn)();

}  // namespace

CAMThread::CAMThread() = default;

CAMThread::~CAMThread() { Close(); }

unsigned __stdcall CAMThread::threadStart(void* self) {
  // Looked up at run time so the framework does not tie its callers to ole32's imports.
  HMODULE ole32 = LoadLibraryW(L"ole32.dll");
  CoInitializeExFn initialize = nullptr;
  CoUninitializeFn uninitialize = nullptr;
  if (ole32) {
    initialize = reinterpret_cast<CoInitializeExFn>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoInitializeEx")));
    uninitialize = reinterpret_cast<CoUninitializeFn>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoUninitialize")));
  }
  bool initialized = initialize && uninitialize &&
                     SUCCEEDED(initialize(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE));
  DWORD code = static_cast<CAMThread*>(self)->ThreadProc();
  if (initialized) uninitialize();
  if (ole32) FreeLibrary(ole32);
  return code;
}

bool CAMThread::Create() {
  CAutoLock lock(&accessLock_);
  if (thread_ || !request_.IsValid() || !reply_.IsValid()) return false;
  request_.Reset();
  uintptr_t handle = _beginthreadex(nullptr, 0, threadStart, this, 0, nullptr);
  thread_ = reinterpret_cast<HANDLE>(handle);
  return thread_ != nullptr;
}

DWORD CAMThread::CallWorker(DWORD command) {
  CAutoLock lock(&accessLock_);
  if (!thread_) return static_cast<DWORD>(E_FAIL);
  param_ = command;
  request_.Set();
  // A worker that has ended will never reply; its handle is signalled instead.
  HANDLE waits[2] = {reply_.Handle(), thread_};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
    request_.Reset();
    return static_cast<DWORD>(E_FAIL);
  }
  return returnValue_;
}

void CAMThread::Close() {
  HANDLE thread = InterlockedExchangePointer(&thread_, nullptr);
  if (!thread) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

DWORD CAMThread::GetRequest() {
  request_.Wait(INFINITE);
  return param_;
}

bool CAMThread::CheckRequest(DWORD* command) {
  if (!request_.Check()) return false;
  if (command) *command = param_;
  return true;
}

void CAMThread::Reply(DWORD value) {
  returnValue_ = value;
  request_.Reset();
  reply_.Set();
}

}  // namespace dshow
