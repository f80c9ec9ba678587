#include <windows.h>

#include "common/debug_log.h"

namespace debuglog {

void output(const char* line) { OutputDebugStringA(line); }

}  // namespace debuglog
