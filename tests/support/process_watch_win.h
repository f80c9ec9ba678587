// What a Windows test or benchmark sees of another running program: its window and the
// processor time it has used.
#pragma once

#include <windows.h>

namespace testsupport {

// The top-level window of class `className` that process `processId` owns, or null.
HWND findWindowOf(DWORD processId, const wchar_t* className);

// Processor time, user and kernel, the process has used, in seconds. Wine's times of another
// process stand still; there its processes are Linux processes whose /proc entries show through
// drive Z:, and those whose command line holds `imageName` (best the whole path) are read.
double processCpuSeconds(HANDLE process, const char* imageName);

}  // namespace testsupport
