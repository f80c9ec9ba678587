// BrindleVideoControl.exe itself, started as its own process: its window, its frame loop and
// its exit on WM_CLOSE.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "support/wait.h"

namespace {

using namespace std::chrono_literals;

struct Search {
  DWORD processId;
  HWND window;
};

BOOL CALLBACK findProgramWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (owner == search->processId && std::wstring(className) == L"BrindleVideoWindow") {
    search->window = window;
    return FALSE;
  }
  return TRUE;
}

// Processor time of the process. Wine's times of another process stand still; there its
// processes are Linux processes whose /proc entries show through drive Z:, found by name.
double cpuSeconds(HANDLE process) {
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
    if (command.find("BrindleVideoControl.exe") == std::string::npos) continue;
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

TEST(ControlProgramTest, ShowsOrvikKeepsDrawingAndExitsWithZeroOnClose) {
  std::filesystem::path program = BRINDLE_CONTROL_EXE;
  ASSERT_TRUE(std::filesystem::exists(program)) << program;
  EXPECT_TRUE(std::filesystem::exists(program.parent_path() / "locales" / "en.json")) << "locales beside it";

  std::filesystem::path folder = std::filesystem::temp_directory_path() / "brindle-program-run";
  std::filesystem::create_directories(folder);
  std::error_code ignored;
  std::filesystem::remove(folder / "imgui.ini", ignored);
  std::filesystem::remove(program.parent_path() / "imgui.ini", ignored);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + program.wstring() + L"\"";
  ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.c_str(), &startup, &process))
      << "CreateProcessW: " << GetLastError();

  Search search = {process.dwProcessId, nullptr};
  bool found = testsupport::waitUntil(
      [&] {
        EnumWindows(findProgramWindow, reinterpret_cast<LPARAM>(&search));
        return search.window != nullptr && IsWindowVisible(search.window);
      },
      30000ms);
  if (found) {
    wchar_t title[64] = {};
    GetWindowTextW(search.window, title, 64);
    EXPECT_EQ(std::wstring(title), L"Orvik");
    RECT r = {};
    GetWindowRect(search.window, &r);
    EXPECT_EQ(r.right - r.left, 720);
    EXPECT_EQ(r.bottom - r.top, 760);

    // A loop that draws without waiting keeps the process busy and still answers messages.
    std::this_thread::sleep_for(1000ms);
    double before = cpuSeconds(process.hProcess);
    std::this_thread::sleep_for(1500ms);
    EXPECT_GT(cpuSeconds(process.hProcess) - before, 0.2) << "the frame loop is not running";
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(search.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result), 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), DWORD(WAIT_TIMEOUT)) << "still running";

    PostMessageW(search.window, WM_CLOSE, 0, 0);
  } else {
    ADD_FAILURE() << "no visible BrindleVideoWindow of the program within 30 s";
  }

  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the program did not exit within 20 s of WM_CLOSE";
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 5000);
  }
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  EXPECT_FALSE(std::filesystem::exists(folder / "imgui.ini"));
  EXPECT_FALSE(std::filesystem::exists(program.parent_path() / "imgui.ini"));
}

}  // namespace
