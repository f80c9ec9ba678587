#include "ring/named_section.h"

#include <windows.h>
#include <winternl.h>

#include <cwchar>
#include <string>

namespace ring {

static_assert(FILE_MAP_ALL_ACCESS == 0xF001F);

namespace {

// Size of the mapped view at `view`: the mapping's real extent, whatever its header claims.
std::uint64_t mappedBytes(const void* view) {
  MEMORY_BASIC_INFORMATION info = {};
  if (VirtualQuery(view, &info, sizeof(info)) != sizeof(info)) return 0;
  if (info.BaseAddress != view || info.State != MEM_COMMIT) return 0;
  return info.RegionSize;
}

// NtOpenSection, the user-mode name of ZwOpenSection: it takes a full object path.
using NtOpenSectionFn = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*);

NtOpenSectionFn ntOpenSection() {
  static const NtOpenSectionFn function = reinterpret_cast<NtOpenSectionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtOpenSection")));
  return function;
}

}  // namespace

std::uint64_t NamedSection::mappedExtent(std::uint64_t size) {
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  const std::uint64_t page = info.dwPageSize != 0 ? info.dwPageSize : 4096;
  return (size + page - 1) / page * page;
}

bool NamedSection::create(const std::string& objectName, std::uint64_t size, void* securityDescriptor) {
  close();
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), securityDescriptor, FALSE};
  HANDLE handle = CreateFileMappingA(INVALID_HANDLE_VALUE, securityDescriptor != nullptr ? &attributes : nullptr,
                                     PAGE_READWRITE, static_cast<DWORD>(size >> 32), static_cast<DWORD>(size),
                                     objectName.c_str());
  if (handle == nullptr) {
    error_ = GetLastError();
    return false;
  }
  // An existing section keeps its own size: all of it is mapped, for the caller to judge.
  existed_ = GetLastError() == ERROR_ALREADY_EXISTS;
  void* view = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, existed_ ? 0 : static_cast<SIZE_T>(size));
  const std::uint64_t bytes = view != nullptr ? mappedBytes(view) : 0;
  if (view == nullptr || bytes == 0 || (!existed_ && bytes < size)) {
    error_ = view == nullptr ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(handle);
    existed_ = false;
    return false;
  }
  handle_ = handle;
  view_ = static_cast<std::uint8_t*>(view);
  size_ = existed_ ? bytes : size;
  return true;
}

bool NamedSection::open(const std::string& objectName) {
  close();
  HANDLE handle = OpenFileMappingA(FILE_MAP_READ, FALSE, objectName.c_str());
  if (handle == nullptr) {
    error_ = GetLastError();
    return false;
  }
  return mapWhole(handle, FILE_MAP_READ);
}

bool NamedSection::openForWriting(const std::string& objectName) {
  close();
  const DWORD access = FILE_MAP_READ | FILE_MAP_WRITE;
  HANDLE handle = OpenFileMappingA(access, FALSE, objectName.c_str());
  if (handle == nullptr) {
    error_ = GetLastError();
    return false;
  }
  return mapWhole(handle, access);
}

bool NamedSection::openInSession(const std::string& name) {
  close();
  DWORD session = 0;
  const NtOpenSectionFn open = ntOpenSection();
  if (open == nullptr || !ProcessIdToSessionId(GetCurrentProcessId(), &session) || name.empty() ||
      name.find('\\') != std::string::npos) {
    error_ = ERROR_FILE_NOT_FOUND;
    return false;
  }
  wchar_t path[400];
  int length = std::swprintf(path, 400, L"\\Sessions\\%lu\\BaseNamedObjects\\", static_cast<unsigned long>(session));
  // The name as OpenFileMappingA reads it: in the ANSI code page.
  const int added = length > 0 ? MultiByteToWideChar(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()),
                                                     path + length, 400 - length - 1)
                               : 0;
  if (added <= 0) {
    error_ = ERROR_FILE_NOT_FOUND;
    return false;
  }
  length += added;
  UNICODE_STRING text = {static_cast<USHORT>(length * sizeof(wchar_t)), static_cast<USHORT>(length * sizeof(wchar_t)),
                         path};
  OBJECT_ATTRIBUTES attributes = {};
  InitializeObjectAttributes(&attributes, &text, 0, nullptr, nullptr);
  HANDLE handle = nullptr;
  const LONG status = open(&handle, FILE_MAP_READ, &attributes);
  if (status < 0 || handle == nullptr) {
    error_ = static_cast<unsigned long>(status) == 0xC0000022ul ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    return false;
  }
  return mapWhole(handle, FILE_MAP_READ);
}

bool NamedSection::mapWhole(void* handle, unsigned long access) {
  void* view = MapViewOfFile(handle, access, 0, 0, 0);
  const std::uint64_t bytes = view != nullptr ? mappedBytes(view) : 0;
  if (bytes == 0) {
    error_ = view == nullptr ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(handle);
    return false;
  }
  handle_ = handle;
  view_ = static_cast<std::uint8_t*>(view);
  size_ = bytes;
  return true;
}

void NamedSection::close() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
  view_ = nullptr;
  size_ = 0;
  existed_ = false;
  error_ = 0;
}

bool runningInAppContainer() {
  static const bool inside = [] {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD value = 0, length = 0;
    const bool answered = GetTokenInformation(token, TokenIsAppContainer, &value, sizeof(value), &length) != FALSE;
    CloseHandle(token);
    return answered && value != 0;
  }();
  return inside;
}

}  // namespace ring
