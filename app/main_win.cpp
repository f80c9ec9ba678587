// The Windows GUI entry of BrindleVideoControl: no command line, no show flag, only the instance.
// A second start in the same session shows the running window instead and ends.
#include <windows.h>

#include "app/program_win.h"
#include "app/single_instance_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  app::SingleInstance single;
  if (!single.first()) {
    app::bringRunningWindowToFront(5000);
    return 0;
  }
  return app::runProgram(instance);
}
