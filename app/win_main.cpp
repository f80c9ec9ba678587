// The Windows GUI entry of BrindleVideoControl: no command line, no show flag, only the instance.
#include <windows.h>

#include "app/program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return app::runProgram(instance); }
