// BrindleVideoControl.exe itself, started as its own process: its window, its frame loop and
// its exit on WM_CLOSE; and a second copy started beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "support/child_process_win.h"
#include "support/process_watch_win.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;

const std::filesystem::path kProgram = BRINDLE_CONTROL_EXE;

// Starts the program and waits for its window to show; null when it did not within 30 s.
HWND startProgram(testsupport::ChildProcess& process, const std::filesystem::path& folder = {}) {
  if (!process.start(L"\"" + kProgram.wstring() + L"\"", folder.wstring())) return nullptr;
  HWND window = nullptr;
  testsupport::waitUntil(
      [&] {
        window = testsupport::findWindowOf(process.id(), L"BrindleVideoWindow");
        return window != nullptr && IsWindowVisible(window);
      },
      30000ms);
  return window;
}

// Closes the window as the user would; the exit code, or -1 when it did not end within 20 s.
long closeProgram(testsupport::ChildProcess& process, HWND window) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  return process.wait(20000);
}

TEST(ControlProgramTest, ShowsOrvikKeepsDrawingAndExitsWithZeroOnClose) {
  ASSERT_TRUE(std::filesystem::exists(kProgram)) << kProgram;
  EXPECT_TRUE(std::filesystem::exists(kProgram.parent_path() / "locales" / "en.json")) << "locales beside it";

  std::filesystem::path folder = std::filesystem::temp_directory_path() / "brindle-program-run";
  std::filesystem::create_directories(folder);
  std::error_code ignored;
  std::filesystem::remove(folder / "imgui.ini", ignored);
  std::filesystem::remove(kProgram.parent_path() / "imgui.ini", ignored);

  testsupport::ChildProcess process;
  HWND window = startProgram(process, folder);
  ASSERT_NE(window, nullptr) << "no visible BrindleVideoWindow of the program within 30 s";
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_EQ(std::wstring(title), L"Orvik");
  RECT r = {};
  GetWindowRect(window, &r);
  EXPECT_EQ(r.right - r.left, 720);
  EXPECT_EQ(r.bottom - r.top, 760);

  // The frame loop keeps drawing (it costs some processor time) and still answers messages.
  std::this_thread::sleep_for(1000ms);
  double before = testsupport::processCpuSeconds(process.handle(), kProgram.string().c_str());
  std::this_thread::sleep_for(1500ms);
  EXPECT_GT(testsupport::processCpuSeconds(process.handle(), kProgram.string().c_str()) - before, 0.01)
      << "the frame loop is not running";
  DWORD_PTR result = 0;
  EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result), 0);
  EXPECT_EQ(process.wait(0), -1) << "still running";

  EXPECT_EQ(closeProgram(process, window), 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "imgui.ini"));
  EXPECT_FALSE(std::filesystem::exists(kProgram.parent_path() / "imgui.ini"));
}

// Two copies would publish into the one frame ring: the second brings the first one's window
// back from the taskbar and ends, and the first runs on.
TEST(ControlProgramTest, ASecondStartShowsTheRunningWindowAndEnds) {
  testsupport::ChildProcess first;
  HWND window = startProgram(first);
  ASSERT_NE(window, nullptr) << "no visible BrindleVideoWindow of the program within 30 s";
  ShowWindowAsync(window, SW_MINIMIZE);
  ASSERT_TRUE(testsupport::waitUntil([&] { return IsIconic(window) != 0; }, 5000ms));

  testsupport::ChildProcess second;
  ASSERT_TRUE(second.start(L"\"" + kProgram.wstring() + L"\""));
  EXPECT_EQ(second.wait(20000), 0) << "the second copy ends at once";
  EXPECT_TRUE(testsupport::waitUntil([&] { return !IsIconic(window); }, 5000ms)) << "the first window is restored";
  EXPECT_TRUE(testsupport::waitUntil([&] { return GetForegroundWindow() == window; }, 5000ms))
      << "and in front";
  EXPECT_EQ(first.wait(0), -1) << "the first copy runs on";

  EXPECT_EQ(closeProgram(first, window), 0);
  // Once the first copy has ended, the next start runs.
  testsupport::ChildProcess third;
  HWND next = startProgram(third);
  ASSERT_NE(next, nullptr) << "a start after the end of the first copy opens its window";
  EXPECT_EQ(closeProgram(third, next), 0);
}

}  // namespace
