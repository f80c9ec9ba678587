#include "support/child_process_win.h"

#include <vector>

namespace testsupport {

bool ChildProcess::start(const std::wstring& commandLine, const std::wstring& folder) {
  return startWith(commandLine, folder, nullptr);
}

bool ChildProcess::startCapturingOutput(const std::wstring& commandLine) {
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&outputPipe_, &writeEnd, &inherited, 0)) return false;
  SetHandleInformation(outputPipe_, HANDLE_FLAG_INHERIT, 0);
  bool ok = startWith(commandLine, {}, writeEnd);
  CloseHandle(writeEnd);  // the child holds its own: the pipe ends when the child does
  return ok;
}

bool ChildProcess::startWith(const std::wstring& commandLine, const std::wstring& folder, HANDLE output) {
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  if (output != nullptr) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output;
    si.hStdError = output;
  }
  started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &si, &pi_) != 0;
  return started_;
}

void ChildProcess::readOutput() {
  DWORD available = 0;
  while (outputPipe_ != nullptr && PeekNamedPipe(outputPipe_, nullptr, 0, nullptr, &available, nullptr) &&
         available > 0) {
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(outputPipe_, buffer, sizeof(buffer), &got, nullptr) || got == 0) return;
    output_.append(buffer, got);
  }
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
  if (!started_) return -1;
  DWORD waited = WAIT_TIMEOUT;
  if (outputPipe_ == nullptr) {
    waited = WaitForSingleObject(pi_.hProcess, ms);
  } else {
    // A full pipe would stop the child: read while waiting.
    const ULONGLONG end = GetTickCount64() + ms;
    do {
      waited = WaitForSingleObject(pi_.hProcess, 20);
      readOutput();
    } while (waited != WAIT_OBJECT_0 && GetTickCount64() < end);
  }
  if (waited != WAIT_OBJECT_0) return -1;
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
  if (outputPipe_ != nullptr) CloseHandle(outputPipe_);
  if (!started_) return;
  if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 99);
  WaitForSingleObject(pi_.hProcess, 5000);
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

}  // namespace testsupport
