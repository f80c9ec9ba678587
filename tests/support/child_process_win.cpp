#include "support/child_process_win.h"

#include <vector>

namespace testsupport {

bool ChildProcess::start(const std::wstring& commandLine, const std::wstring& folder) {
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &si, &pi_) != 0;
  return started_;
}

bool ChildProcess::start(const std::string& exe, const std::string& args) {
  std::vector<wchar_t> self(32768);
  DWORD n = GetModuleFileNameW(nullptr, self.data(), DWORD(self.size()));
  if (n == 0 || n >= self.size()) return false;
  std::wstring folder(self.data(), n);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return start(L"\"" + folder + std::wstring(exe.begin(), exe.end()) + L"\" " + std::wstring(args.begin(), args.end()));
}

long ChildProcess::wait(DWORD ms) {
  if (!started_ || WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(pi_.hProcess, &code);
  return long(code);
}

std::wstring windowsPath(const char* buildPath) {
  std::wstring path = L"Z:";
  for (const char* p = buildPath; *p; p++) path += *p == '/' ? L'\\' : wchar_t(*p);
  return path;
}

ChildProcess::~ChildProcess() {
  if (!started_) return;
  if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 99);
  WaitForSingleObject(pi_.hProcess, 5000);
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

}  // namespace testsupport
