// Outside Windows only: lets a test receive the diagnostic lines instead of standard error.
// (On Windows, tests read OutputDebugStringA itself.) Not thread-safe to change while logging.
#pragma once

namespace debuglog {

using OutputHook = void (*)(const char* line, void* context);
void setOutputHook(OutputHook hook, void* context);

}  // namespace debuglog
