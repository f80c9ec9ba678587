#include "ring/named_section.h"

#include <windows.h>

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
  return mapForReading(handle);
}

bool NamedSection::mapForReading(void* handle) {
  void* view = MapViewOfFile(handle, FILE_MAP_READ, 0, 0, 0);
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

}  // namespace ring
