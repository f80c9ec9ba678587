// A child program started by a Windows test; ended if it outlives the test.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Starts a whole command line as given, in `folder` when one is given.
  bool start(const std::wstring& commandLine, const std::wstring& folder = {});
  // Starts the program `exe` that lies beside this test program, with ASCII `args`.
  bool start(const std::string& exe, const std::string& args);
  // The exit code, or -1 if it did not end within `ms`.
  long wait(DWORD ms);
  DWORD id() const { return pi_.dwProcessId; }
  HANDLE handle() const { return pi_.hProcess; }

 private:
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

// The Windows path (Z:\...) of a file in the build tree, given by its Linux path.
std::wstring windowsPath(const char* buildPath);

}  // namespace testsupport
