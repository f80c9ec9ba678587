#include "support/process_watch_win.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>

namespace testsupport {

namespace {

struct Search {
  DWORD processId;
  const wchar_t* className;
  HWND window;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (owner == search->processId && std::wstring(className) == search->className) {
    search->window = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND findWindowOf(DWORD processId, const wchar_t* className) {
  Search search = {processId, className, nullptr};
  EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
  return search.window;
}

double processCpuSeconds(HANDLE process, const char* imageName) {
  if (!std::filesystem::exists("Z:/proc/self/stat")) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](FILETIME t) { return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
  }
  double total = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("Z:/proc", error)) {
    std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
    std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    if (command.find(imageName) == std::string::npos) continue;
    std::ifstream statFile(entry.path() / "stat");
    std::string line;
    std::getline(statFile, line);
    std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    double ticks = 0;
    for (int i = 0; i < 13 && fields >> field; ++i) {
      if (i == 11 || i == 12) ticks += std::stod(field);  // utime, stime
    }
    total += ticks / 100.0;  // USER_HZ
  }
  return total;
}

}  // namespace testsupport
