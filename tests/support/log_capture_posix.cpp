#include "support/log_capture.h"

#include "common/debug_output_hook.h"

namespace testsupport {

namespace {
void onLine(const char* line, void*) { LogCapture::addToActive(line); }
}  // namespace

void* LogCapture::installHook() {
  debuglog::setOutputHook(onLine, nullptr);
  return nullptr;
}

void LogCapture::removeHook(void*) { debuglog::setOutputHook(nullptr, nullptr); }

}  // namespace testsupport
