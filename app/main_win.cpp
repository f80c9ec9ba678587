// The Windows GUI entry of BrindleVideoControl. Without arguments it opens the window; a second
// start in the same session shows the running window instead and ends. The installer's switches
// (command_line_win.h) run before the single-instance check and open no window.
#include <windows.h>

#include "app/command_line_win.h"
#include "app/program_win.h"
#include "app/single_instance_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const app::Command command = app::commandOf(GetCommandLineW());
  if (command != app::Command::OpenWindow) return app::runCommand(command);

  app::SingleInstance single;
  if (!single.first()) {
    app::bringRunningWindowToFront(5000);
    return 0;
  }
  return app::runProgram(instance);
}
