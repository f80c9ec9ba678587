#include "app/command_line_win.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "common/debug_log.h"
#include "mfcam/virtual_camera_registration_win.h"

namespace app {

namespace {

// A program of the Windows subsystem has no console of its own: the installer reads the line
// through a pipe, a person in a console sees it in that console.
void writeLine(const std::string& line) {
  logLine("%s", line.c_str());
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE console = INVALID_HANDLE_VALUE;
  if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    out = console;
  }
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
}

}  // namespace

Command commandOf(const wchar_t* commandLine) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(commandLine, &count);
  if (args == nullptr) return Command::Unknown;
  Command command = Command::Unknown;
  if (count <= 1) {
    command = Command::OpenWindow;
  } else if (count == 2 && std::wstring(args[1]) == L"--register-camera") {
    command = Command::RegisterCamera;
  } else if (count == 2 && std::wstring(args[1]) == L"--unregister-camera") {
    command = Command::UnregisterCamera;
  }
  LocalFree(args);
  return command;
}

int runCommand(Command command) {
  if (command != Command::RegisterCamera && command != Command::UnregisterCamera) {
    writeLine("[Program] unknown arguments: the only ones are --register-camera and --unregister-camera\n");
    return 2;
  }
  const bool registering = command == Command::RegisterCamera;
  const mfcam::RegistrationResult result =
      registering ? mfcam::registerVirtualCamera() : mfcam::removeVirtualCamera();
  writeLine(mfcam::describe(result, registering));
  return result.status == mfcam::RegistrationStatus::Failed ? 1 : 0;
}

}  // namespace app
