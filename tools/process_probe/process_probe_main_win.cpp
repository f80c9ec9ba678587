// process_probe: samples private bytes, handle count, thread count and resident bytes of
// running programs, found by executable name, for the soak run.
//   process_probe [--every SECONDS] [--count N] NAME.exe...
// Prints one line per program and sample, the first sample at once, then one every SECONDS
// (default 10), N samples in all (default 1):
//   sample <seconds since start> <name> <pid> <private bytes> <handles> <threads> <resident bytes>
// A program that is not running (or not readable) gives "sample <seconds> <name> - missing".
// Exit codes: 0 done; 2 bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/process_probe/process_counters_win.h"

int main(int argc, char** argv) {
  long every = 10, count = 1;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--every" || arg == "--count") && i + 1 < argc) {
      char* end = nullptr;
      long value = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || value < 1 || value > 1000000) {
        std::fprintf(stderr, "process_probe: %s needs a number from 1 to 1000000\n", arg.c_str());
        return 2;
      }
      (arg == "--every" ? every : count) = value;
    } else if (!arg.empty() && arg[0] != '-') {
      names.push_back(arg);
    } else {
      std::fprintf(stderr, "usage: process_probe [--every SECONDS] [--count N] NAME.exe...\n");
      return 2;
    }
  }
  if (names.empty()) {
    std::fprintf(stderr, "usage: process_probe [--every SECONDS] [--count N] NAME.exe...\n");
    return 2;
  }

  const ULONGLONG start = GetTickCount64();
  for (long k = 0; k < count; ++k) {
    // Samples keep to the schedule however long reading took.
    if (k > 0) {
      ULONGLONG due = start + ULONGLONG(k) * ULONGLONG(every) * 1000;
      ULONGLONG now = GetTickCount64();
      if (due > now) Sleep(DWORD(due - now));
    }
    const double seconds = double(GetTickCount64() - start) / 1000.0;
    for (const std::string& name : names) {
      std::vector<std::uint32_t> ids = processprobe::findProcesses(name);
      processprobe::ProcessCounters c;
      if (ids.empty() || !processprobe::readCounters(ids.front(), c)) {
        std::printf("sample %.1f %s - missing\n", seconds, name.c_str());
      } else {
        std::printf("sample %.1f %s %u %llu %u %u %llu\n", seconds, name.c_str(), unsigned(ids.front()),
                    static_cast<unsigned long long>(c.privateBytes), unsigned(c.handles), unsigned(c.threads),
                    static_cast<unsigned long long>(c.residentBytes));
      }
    }
    std::fflush(stdout);
  }
  return 0;
}
