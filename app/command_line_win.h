// The control program's command line. Without arguments it opens its window. The installer runs
// it with one switch that registers or removes the Media Foundation camera: that run opens no
// window, does not count as the running copy, writes one line and ends.
#pragma once

namespace app {

enum class Command {
  OpenWindow,        // no arguments
  RegisterCamera,    // --register-camera
  UnregisterCamera,  // --unregister-camera
  Unknown,           // anything else
};

// The command of a whole command line, as GetCommandLineW returns it (program name first).
Command commandOf(const wchar_t* commandLine);

// Runs any command but OpenWindow. Its line goes to the log and to standard output (or the
// console of the program that started it); returns the exit code: 0 done, or nothing to do on a
// Windows without virtual cameras; 1 failed; 2 unknown arguments.
int runCommand(Command command);

}  // namespace app
