// What a leak shows in: a process's private bytes, handle count and thread count, read from
// inside Windows, of this process or another. Windows only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace processprobe {

struct ProcessCounters {
  // PROCESS_MEMORY_COUNTERS_EX::PrivateUsage: committed memory no other process shares, counted
  // when it is committed, not when it is first touched.
  std::uint64_t privateBytes = 0;
  // Resident memory (WorkingSetSize). Under Wine also the memory of the host's own libraries
  // (GStreamer, Mesa), which Windows' lists never see.
  std::uint64_t residentBytes = 0;
  std::uint32_t handles = 0;       // GetProcessHandleCount
  std::uint32_t threads = 0;       // the process's threads in a Toolhelp32 snapshot
};

// The counters of process `pid`; false when it cannot be opened or read (gone, no access).
bool readCounters(std::uint32_t pid, ProcessCounters& out);
// The same for the calling process.
bool readOwnCounters(ProcessCounters& out);

// The ids of the running processes whose executable is called `exeName` (case-insensitive,
// for example "camera_viewer.exe").
std::vector<std::uint32_t> findProcesses(const std::string& exeName);

}  // namespace processprobe
