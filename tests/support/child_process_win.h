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
  // Starts a whole command line with its standard output and error read into output().
  bool startCapturingOutput(const std::wstring& commandLine);
  // The exit code, or -1 if it did not end within `ms`; reads the captured output meanwhile.
  long wait(DWORD ms);
  // What the program wrote, once wait() saw it end.
  const std::string& output() const { return output_; }
  DWORD id() const { return pi_.dwProcessId; }
  HANDLE handle() const { return pi_.hProcess; }

 private:
  bool startWith(const std::wstring& commandLine, const std::wstring& folder, HANDLE output);
  void readOutput();

  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
  HANDLE outputPipe_ = nullptr;  // the reading end, when capturing
  std::string output_;
};

// The Windows path (Z:\...) of a file in the build tree, given by its Linux path.
std::wstring windowsPath(const char* buildPath);

}  // namespace testsupport
