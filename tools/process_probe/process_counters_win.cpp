#include "tools/process_probe/process_counters_win.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace processprobe {

namespace {

// Toolhelp32 is the one call that gives another process's thread count.
bool threadCount(std::uint32_t pid, std::uint32_t& out) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == pid) {
      out = entry.cntThreads;
      found = true;
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}

// Wine 8 answers PrivateUsage 0 and a handle count of 0 for every process. No process runs
// without private memory or handles, so a 0 means "not implemented", and the figures are made
// as Windows makes them instead: the committed private regions of the address space, and the
// process's entries in the system handle list. (Wine's PagefileUsage is resident memory: a
// buffer committed once and touched page by page over half an hour, like the command ring of
// Wine's Direct3D, would look like a leak there.)
using QuerySystemInformation = NTSTATUS(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

// One entry of the system handle list.
struct HandleEntry {
  ULONG processId;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  PVOID object;
  ACCESS_MASK access;
};

// The system information of `what`, grown until it fits; empty on failure.
std::vector<std::uint8_t> systemInformation(ULONG what) {
  auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<std::uint8_t> buffer(1 << 16);
  for (int attempt = 0; query && attempt < 12; ++attempt) {
    ULONG needed = 0;
    NTSTATUS status = query(what, buffer.data(), ULONG(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status >= 0) return buffer;
    break;
  }
  return {};
}

// The committed MEM_PRIVATE regions of `process`, summed; 0 when it cannot be read.
std::uint64_t committedPrivate(HANDLE process) {
  std::uint64_t sum = 0;
  std::uintptr_t at = 0;
  MEMORY_BASIC_INFORMATION region = {};
  // Bounded: an address space has far fewer regions than this.
  for (int i = 0; i < (1 << 20) && VirtualQueryEx(process, reinterpret_cast<LPCVOID>(at), &region, sizeof region) ==
                                      sizeof region;
       ++i) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) sum += region.RegionSize;
    const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return sum;
}

std::uint32_t listedHandles(std::uint32_t pid) {
  std::vector<std::uint8_t> list = systemInformation(kSystemHandleInformation);
  if (list.size() < sizeof(ULONG_PTR)) return 0;
  ULONG count = 0;
  std::memcpy(&count, list.data(), sizeof count);
  const std::size_t first = sizeof(ULONG_PTR);  // the count, padded to the entries' alignment
  std::uint32_t n = 0;
  for (ULONG i = 0; i < count && first + (i + 1) * sizeof(HandleEntry) <= list.size(); ++i) {
    HandleEntry entry;
    std::memcpy(&entry, list.data() + first + i * sizeof(HandleEntry), sizeof entry);
    n += entry.processId == pid ? 1 : 0;
  }
  return n;
}

bool readFrom(HANDLE process, std::uint32_t pid, ProcessCounters& out) {
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  DWORD handles = 0;
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) ||
      !GetProcessHandleCount(process, &handles)) {
    return false;
  }
  out.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : committedPrivate(process);
  out.residentBytes = memory.WorkingSetSize;
  out.handles = handles != 0 ? handles : listedHandles(pid);
  return out.privateBytes != 0 && out.handles != 0 && threadCount(pid, out.threads);
}

bool sameNameIgnoringCase(const wchar_t* a, const std::string& b) {
  std::size_t i = 0;
  for (; a[i] != L'\0' && i < b.size(); ++i) {
    if (a[i] > 0x7F || std::tolower(int(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return a[i] == L'\0' && i == b.size();
}

}  // namespace

bool readCounters(std::uint32_t pid, ProcessCounters& out) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return false;
  DWORD exitCode = 0;
  bool ok = GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE && readFrom(process, pid, out);
  CloseHandle(process);
  return ok;
}

bool readOwnCounters(ProcessCounters& out) { return readFrom(GetCurrentProcess(), GetCurrentProcessId(), out); }

std::vector<std::uint32_t> findProcesses(const std::string& exeName) {
  std::vector<std::uint32_t> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (sameNameIgnoringCase(entry.szExeFile, exeName)) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

}  // namespace processprobe
