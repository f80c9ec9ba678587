// Processor time of BrindleVideoControl.exe's frame loop, as process time over wall time, while
// its window is visible and idle and while it is minimised. Given another build of the program
// (frame_loop_cpu_bench.exe Z:\path\to\BrindleVideoControl.exe), it measures that one the same
// way right after and prints the ratios.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "support/child_process_win.h"
#include "support/process_watch_win.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Load {
  double visible = -1;    // share of one core while visible and idle
  double minimised = -1;  // and while minimised
};

// Processor time over wall time of the process across `span`.
// Other copies may run beside it (other test runs), so the process is found by its whole path.
double shareOfOneCore(HANDLE process, const std::string& path, std::chrono::milliseconds span) {
  const double before = testsupport::processCpuSeconds(process, path.c_str());
  const Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(span);
  const double cpu = testsupport::processCpuSeconds(process, path.c_str()) - before;
  return cpu / std::chrono::duration<double>(Clock::now() - start).count();
}

Load measure(const std::wstring& program) {
  Load load;
  const std::string path(program.begin(), program.end());  // ASCII paths only
  testsupport::ChildProcess process;
  if (!process.start(L"\"" + program + L"\"")) return load;
  HWND window = nullptr;
  for (int i = 0; i < 300 && (window == nullptr || !IsWindowVisible(window)); ++i) {
    std::this_thread::sleep_for(100ms);
    window = testsupport::findWindowOf(process.id(), L"BrindleVideoWindow");
  }
  if (window == nullptr) return load;
  std::this_thread::sleep_for(2s);  // start-up done
  load.visible = shareOfOneCore(process.handle(), path, 5s);
  ShowWindowAsync(window, SW_MINIMIZE);
  std::this_thread::sleep_for(1s);
  if (IsIconic(window)) load.minimised = shareOfOneCore(process.handle(), path, 5s);
  if (!IsIconic(window)) load.minimised = -1;  // restored by something else meanwhile
  PostMessageW(window, WM_CLOSE, 0, 0);
  process.wait(20000);
  return load;
}

void print(const char* what, double subject, double baseline) {
  if (baseline > 0) {
    std::printf("frame loop %s: %.3fx baseline (%.1f%% vs %.1f%% of one core)\n", what, subject / baseline,
                100 * subject, 100 * baseline);
  } else {
    std::printf("frame loop %s: %.1f%% of one core\n", what, 100 * subject);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Load load = measure(BRINDLE_CONTROL_EXE);
  Load baseline;
  if (argc > 1) {
    const std::string path = argv[1];
    baseline = measure(std::wstring(path.begin(), path.end()));
  }
  if (load.visible < 0 || load.minimised < 0) {
    std::printf("frame loop: the program's window did not show or minimise\n");
    return 1;
  }
  print("visible and idle", load.visible, baseline.visible);
  print("minimised", load.minimised, baseline.minimised);
  return 0;
}
