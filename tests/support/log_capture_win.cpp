#include "support/log_capture.h"

#include <windows.h>

namespace testsupport {

namespace {

// OutputDebugStringA raises this exception first; handled here, nothing else sees it.
LONG CALLBACK onException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  LogCapture::addToActive(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void* LogCapture::installHook() { return AddVectoredExceptionHandler(1, onException); }

void LogCapture::removeHook(void* handle) {
  if (handle != nullptr) RemoveVectoredExceptionHandler(handle);
}

}  // namespace testsupport
