// installer_test_helper: what the installer test does inside the Wine prefix.
//   installer_test_helper wait IMAGE SECONDS
//     waits until no process runs a program called IMAGE, such as the copy of itself that an
//     NSIS uninstaller leaves working after it returned;
//   installer_test_helper close CLASS SECONDS
//     closes the window of class CLASS as a user does (WM_CLOSE) and waits for its process.
// Exit 0 when done, 1 if the process still runs after SECONDS, 2 on bad arguments.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

// The process id of one process called `image`, or 0.
DWORD findProcess(const wchar_t* image) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, image) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

// Waits for process `pid` until `deadline`; true once it has ended.
bool waitFor(DWORD pid, ULONGLONG deadline) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return true;  // already gone
  ULONGLONG now = GetTickCount64();
  DWORD result = WaitForSingleObject(process, now < deadline ? DWORD(deadline - now) : 0);
  CloseHandle(process);
  return result == WAIT_OBJECT_0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string command = argv[1];
  const std::wstring name(argv[2], argv[2] + std::strlen(argv[2]));  // ASCII names
  const ULONGLONG deadline = GetTickCount64() + ULONGLONG(std::strtoul(argv[3], nullptr, 10)) * 1000;
  if (command == "wait") {
    for (DWORD pid = findProcess(name.c_str()); pid != 0; pid = findProcess(name.c_str())) {
      if (!waitFor(pid, deadline)) return 1;
    }
    return 0;
  }
  if (command == "close") {
    HWND window = FindWindowW(name.c_str(), nullptr);
    if (window == nullptr) return 0;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    PostMessageW(window, WM_CLOSE, 0, 0);
    return waitFor(pid, deadline) ? 0 : 1;
  }
  return 2;
}
